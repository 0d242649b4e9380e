#pragma once

// clang's thread-safety annotations: which mutex guards a member, which a function needs or must
// not hold, which it takes or lets go. `-Wthread-safety` checks them at compile time; other
// compilers see nothing.
#if defined(__clang__)
#define QUIB_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define QUIB_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) QUIB_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY QUIB_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) QUIB_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) QUIB_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) QUIB_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) QUIB_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) QUIB_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) QUIB_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) QUIB_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// The shared forms, for a capability that readers hold together.
#define REQUIRES_SHARED(...) QUIB_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) QUIB_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) QUIB_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) QUIB_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) QUIB_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) QUIB_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) QUIB_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS QUIB_THREAD_ANNOTATION(no_thread_safety_analysis)
