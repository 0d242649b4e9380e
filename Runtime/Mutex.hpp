#pragma once

#include <mutex>

#include "Runtime/ThreadSafety.hpp"

namespace quib {

// A std::mutex that clang's thread-safety analysis knows as a capability, so that members marked
// GUARDED_BY it are checked to be touched only while it is held. Take it through MutexLock, or
// UniqueLock where a condition variable waits on it.
class CAPABILITY("mutex") Mutex {
public:
    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }
    bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

    // Tells the analysis the mutex is held where it cannot see so itself: in a condition
    // variable's predicate, which runs under the waiting lock.
    void assertHeld() const ASSERT_CAPABILITY(this) {}

    // The mutex itself, for std::unique_lock and std::condition_variable.
    std::mutex& native() RETURN_CAPABILITY(this) { return mutex_; }

private:
    std::mutex mutex_;
};

// Holds a Mutex from construction to destruction, like std::lock_guard.
class SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~MutexLock() RELEASE() { mutex_.unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& mutex_;
};

// Holds a Mutex like std::unique_lock: it may be let go and taken again before it ends, and a
// std::condition_variable waits on `native()`.
class SCOPED_CAPABILITY UniqueLock {
public:
    explicit UniqueLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.native()) {}
    ~UniqueLock() RELEASE() {}
    UniqueLock(const UniqueLock&) = delete;
    UniqueLock& operator=(const UniqueLock&) = delete;

    void lock() ACQUIRE() { lock_.lock(); }
    void unlock() RELEASE() { lock_.unlock(); }
    std::unique_lock<std::mutex>& native() { return lock_; }

private:
    std::unique_lock<std::mutex> lock_;
};

}  // namespace quib
