#pragma once

#include <string_view>

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

// The same for an object confined to a serial queue it holds no reference to: stops the process
// unless the calling thread is the worker of a serial queue labelled `label` (a constant the
// queue's maker and the object share; see SerialQueue::isCurrentLabelled).
#if QUIB_ASSERT_QUEUES
void assertOnQueueLabelled(std::string_view label, SourceLocation where = SourceLocation::current());
#else
inline void assertOnQueueLabelled(std::string_view) {}
#endif

// Stops the process as assertOn does, naming `queue`.
[[noreturn]] void ranOffQueue(std::string_view queue, SourceLocation where);

// The same for a queue that is no Executor, such as the asio context that runs a connection's
// socket: `isCurrent()` tells whether the calling thread runs that queue's work right now, and
// is not called at all where QUIB_ASSERT_QUEUES is 0.
template <class IsCurrent>
void assertOn(const IsCurrent& isCurrent, std::string_view queue, SourceLocation where = SourceLocation::current()) {
    if constexpr (QUIB_ASSERT_QUEUES) {
        if (!isCurrent()) ranOffQueue(queue, where);
    } else {
        (void)isCurrent;
        (void)queue;
        (void)where;
    }
}

}  // namespace quib
