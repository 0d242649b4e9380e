#pragma once

#include "Runtime/Executor.hpp"
#include "Runtime/SourceLocation.hpp"

// Queue affinity is checked where assertions are: in the Debug and sanitizer builds, not in
// release ones.
#ifndef NDEBUG
#define QUIB_ASSERT_QUEUES 1
#else
#define QUIB_ASSERT_QUEUES 0
#endif

namespace quib {

// The first line of a method that belongs to one queue (the network queue, the main executor, a
// serial queue): stops the process, naming the method and the queue, when the calling thread is
// not the one running `queue`'s tasks right now. Compiled away where QUIB_ASSERT_QUEUES is 0.
#if QUIB_ASSERT_QUEUES
void assertOn(const Executor& queue, SourceLocation where = SourceLocation::current());
#else
inline void assertOn(const Executor&) {}
#endif

}  // namespace quib
