#include "Runtime/SerialQueue.hpp"

#include "Runtime/RunSynchronously.hpp"

namespace quib {
namespace {

// The label of the serial queue whose worker this thread is; none on every other thread.
thread_local const std::string* workerLabel = nullptr;

}  // namespace

SerialQueue::SerialQueue(std::string label, std::shared_ptr<Clock> clock)
    : label_(std::move(label)),
      clock_(clock ? std::move(clock) : SystemClock::shared()),
      tasks_(std::make_shared<TaskQueue>()),
      worker_(label_, [tasks = tasks_, label = label_] {
          workerLabel = &label;
          while (auto task = tasks->take()) (*task)();
          workerLabel = nullptr;
      }) {}

// The last owner may let go from inside one of the queue's own tasks: the worker then runs what
// is still queued and ends on its own (it holds the task list, not the queue).
SerialQueue::~SerialQueue() { tasks_->close(); }

void SerialQueue::post(Task task) { tasks_->push(std::move(task)); }

Cancellable SerialQueue::postAfter(Duration delay, Task task) {
    return quib::postAfter(tasks_, *clock_, delay, std::move(task));
}

bool SerialQueue::isCurrent() const { return worker_.isCurrent(); }

bool SerialQueue::isCurrentLabelled(std::string_view label) { return workerLabel != nullptr && *workerLabel == label; }

bool SerialQueue::sync(const Task& task) { return runSynchronously(*this, task); }

}  // namespace quib
