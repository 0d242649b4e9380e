#pragma once

#include <optional>
#include <type_traits>
#include <utility>

#include "Runtime/SerialQueue.hpp"

namespace quib::testing {

// Runs `work` as a task of `queue`, waits for it and hands back what it returned: how a test
// calls a method that belongs to a serial queue, on a queue of its own labelled as that one.
template <class Work>
std::invoke_result_t<Work&> onQueue(SerialQueue& queue, Work&& work) {
    using Value = std::invoke_result_t<Work&>;
    if constexpr (std::is_void_v<Value>) {
        (void)queue.sync(work);
    } else {
        std::optional<Value> value;
        (void)queue.sync([&] { value.emplace(work()); });
        return std::move(*value);
    }
}

}  // namespace quib::testing
