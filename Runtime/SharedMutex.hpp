#pragma once

#include <shared_mutex>

#include "Runtime/ThreadSafety.hpp"

namespace quib {

// A std::shared_mutex that clang's thread-safety analysis knows as a capability: members marked
// GUARDED_BY it may be read under a shared hold (SharedLock) and written only under the exclusive
// one (SharedMutexLock).
class CAPABILITY("shared mutex") SharedMutex {
public:
    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }
    void lock_shared() ACQUIRE_SHARED() { mutex_.lock_shared(); }
    void unlock_shared() RELEASE_SHARED() { mutex_.unlock_shared(); }

private:
    std::shared_mutex mutex_;
};

// Holds a SharedMutex exclusively from construction to destruction.
class SCOPED_CAPABILITY SharedMutexLock {
public:
    explicit SharedMutexLock(SharedMutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~SharedMutexLock() RELEASE() { mutex_.unlock(); }
    SharedMutexLock(const SharedMutexLock&) = delete;
    SharedMutexLock& operator=(const SharedMutexLock&) = delete;

private:
    SharedMutex& mutex_;
};

// Holds a SharedMutex shared, beside other shared holders, from construction to destruction.
class SCOPED_CAPABILITY SharedLock {
public:
    explicit SharedLock(SharedMutex& mutex) ACQUIRE_SHARED(mutex) : mutex_(mutex) { mutex_.lock_shared(); }
    ~SharedLock() RELEASE() { mutex_.unlock_shared(); }
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;

private:
    SharedMutex& mutex_;
};

}  // namespace quib
