#include "QuibHost/Interface/QtMainExecutor.hpp"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>

namespace quib {
namespace {

// One posted task; destroyed with the event, run or not.
class CallEvent final : public QEvent {
public:
    explicit CallEvent(Task task) : QEvent(type()), task_(std::move(task)) {}
    static QEvent::Type type() {
        static const auto registered = static_cast<QEvent::Type>(QEvent::registerEventType());
        return registered;
    }
    void run() { std::exchange(task_, nullptr)(); }

private:
    Task task_;
};

}  // namespace

// The object of the main thread that receives the tasks and owns the delayed ones' timers.
class QtMainExecutor::Anchor final : public QObject {
public:
    // Main thread.
    void arm(std::chrono::milliseconds delay, std::shared_ptr<std::atomic<bool>> cancelled, Task task) {
        dropCancelled();
        const std::uint64_t id = nextTimer_++;
        auto& delayed = timers_[id];
        delayed.cancelled = std::move(cancelled);
        delayed.task = std::move(task);
        delayed.timer = std::make_unique<QTimer>();
        delayed.timer->setSingleShot(true);
        delayed.timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(delayed.timer.get(), &QTimer::timeout, this, [this, id] { fire(id); });
        delayed.timer->start(delay);
    }

protected:
    bool event(QEvent* event) override {
        if (event->type() != CallEvent::type()) return QObject::event(event);
        static_cast<CallEvent*>(event)->run();
        return true;
    }

private:
    struct Delayed {
        std::shared_ptr<std::atomic<bool>> cancelled;
        Task task;
        std::unique_ptr<QTimer> timer;
    };

    void fire(std::uint64_t id) {
        const auto found = timers_.find(id);
        if (found == timers_.end()) return;
        auto task = std::move(found->second.task);
        const bool cancelled = found->second.cancelled->load();
        // The timer is the sender of this very call: it is deleted once the call has returned.
        found->second.timer.release()->deleteLater();
        timers_.erase(found);
        if (!cancelled) task();
    }

    void dropCancelled() {
        std::erase_if(timers_, [](const auto& entry) { return entry.second.cancelled->load(); });
    }

    std::map<std::uint64_t, Delayed> timers_;
    std::uint64_t nextTimer_ = 0;
};

QtMainExecutor::QtMainExecutor() : thread_(std::this_thread::get_id()), anchor_(std::make_unique<Anchor>()) {}

QtMainExecutor::~QtMainExecutor() { close(); }

void QtMainExecutor::post(Task task) {
    MutexLock lock(mutex_);
    if (!anchor_) return;
    // Qt takes the event over and deletes it once delivered, or with the anchor.
    QCoreApplication::postEvent(anchor_.get(), std::make_unique<CallEvent>(std::move(task)).release());
}

Cancellable QtMainExecutor::postAfter(Duration delay, Task task) {
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(std::max(delay, Duration::zero()));
    // The task runs on the main thread, which alone closes the executor: anchor_ stays while it runs.
    post([this, wait, cancelled, task = std::move(task)]() NO_THREAD_SAFETY_ANALYSIS mutable {
        if (!cancelled->load()) anchor_->arm(wait, cancelled, std::move(task));
    });
    return Cancellable(cancelled);
}

bool QtMainExecutor::isCurrent() const { return std::this_thread::get_id() == thread_; }

void QtMainExecutor::close() {
    std::unique_ptr<Anchor> closing;
    {
        MutexLock lock(mutex_);
        closing = std::move(anchor_);
    }
    // Deleting the object deletes the events still queued for it, with their tasks.
    closing.reset();
}

}  // namespace quib
