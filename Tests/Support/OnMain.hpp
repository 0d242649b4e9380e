#pragma once

#include <functional>

#include "Runtime/MainLoop.hpp"

namespace quib::testing {

// Runs `work` as a task of `main`, on the calling thread, with whatever was queued before it and
// whatever it queues in turn: how a test calls a method that belongs to the main executor.
inline void onMain(MainLoop& main, const std::function<void()>& work) {
    main.post(work);
    main.runPending();
}

}  // namespace quib::testing
