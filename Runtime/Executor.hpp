#pragma once

#include <functional>
#include <memory>

#include "Runtime/Clock.hpp"

namespace quib {

using Task = std::function<void()>;

// Something that runs tasks one at a time, in the order they were posted.
class Executor {
public:
    virtual ~Executor() = default;
    // Queues `task`; safe from any thread.
    virtual void post(Task task) = 0;
    // Queues `task` once `delay` has passed on the executor's clock.
    virtual Cancellable postAfter(Duration delay, Task task) = 0;
    // True on the thread that is running this executor's tasks right now.
    virtual bool isCurrent() const = 0;
};

}  // namespace quib
