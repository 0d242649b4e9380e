#pragma once

#include <shared_mutex>

#include "Runtime/ThreadSafety.hpp"

// The shared forms of ThreadSafety.hpp's annotations, for a capability that readers hold
// together: taken and let go shared, or needed shared by a function.
#define ACQUIRE_SHARED(...) QUIB_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) QUIB_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) QUIB_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))

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
