#pragma once

#include <atomic>
#include <chrono>
#include <concepts>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "Runtime/Executor.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {

// Ends a subscription when destroyed.
class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            reset();
            cancel_ = std::exchange(other.cancel_, nullptr);
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription() { reset(); }

    void reset() {
        if (cancel_) std::exchange(cancel_, nullptr)();
    }

private:
    std::function<void()> cancel_;
};

struct SubscribeOptions {
    // Do not deliver the value current at the time of subscribing.
    bool skipCurrent = false;
    // Do not deliver a value equal to the last one delivered.
    bool dropRepeats = false;
    // Deliver only the last of a burst, once no new value came for this long (zero: no debounce).
    std::chrono::milliseconds debounce{0};
};

// An observable value. It changes on the main executor only: `set` from another thread is
// posted there. Subscribers are called on the main executor. `value` may be read from any thread.
template <class T>
class Published {
public:
    using Handler = std::function<void(const T&)>;

    Published(std::shared_ptr<Executor> main, T initial) : main_(std::move(main)), state_(std::make_shared<State>()) {
        state_->value = std::move(initial);
    }
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    T value() const {
        MutexLock lock(state_->mutex);
        return state_->value;
    }

    void set(T newValue) {
        if (!main_->isCurrent()) {
            // The task holds the executor only weakly: a task that owned the queue it waits in
            // would keep both alive for ever when the queue is never drained.
            main_->post([state = state_, weak = std::weak_ptr<Executor>(main_), v = std::move(newValue)]() mutable {
                if (auto main = weak.lock()) apply(state, main, std::move(v));
            });
            return;
        }
        apply(state_, main_, std::move(newValue));
    }

    // Subscribes; unless `options.skipCurrent`, the current value is delivered first (on the
    // main executor: at once when called there, else posted).
    Subscription subscribe(Handler handler, SubscribeOptions options = {}) {
        auto sub = std::make_shared<Subscriber>(std::move(handler), options);
        std::size_t id;
        {
            MutexLock lock(state_->mutex);
            id = state_->nextID++;
            state_->subscribers.emplace(id, sub);
        }
        if (!options.skipCurrent) {
            auto deliverCurrent = [state = state_, weak = std::weak_ptr<Executor>(main_), sub] {
                if (auto main = weak.lock()) deliver(state, main, sub, currentValue(state));
            };
            if (main_->isCurrent()) deliverCurrent();
            else main_->post(deliverCurrent);
        }
        std::weak_ptr<State> weak = state_;
        // The subscription may end on any thread, while the main executor delivers.
        return Subscription([weak, id, sub] {
            sub->cancelled = true;
            sub->cancelPending();
            if (auto state = weak.lock()) {
                MutexLock lock(state->mutex);
                state->subscribers.erase(id);
            }
        });
    }

private:
    struct Subscriber {
        Subscriber(Handler h, SubscribeOptions o) : handler(std::move(h)), options(o) {}

        // Replaces the debounce timer (main executor).
        void setPending(Cancellable next) {
            MutexLock lock(pendingMutex);
            pending.cancel();
            pending = std::move(next);
        }
        void cancelPending() {
            MutexLock lock(pendingMutex);
            pending.cancel();
        }

        const Handler handler;
        const SubscribeOptions options;
        std::optional<T> lastDelivered;  // main executor only
        std::atomic<bool> cancelled{false};
        Mutex pendingMutex;
        Cancellable pending GUARDED_BY(pendingMutex);
    };
    struct State {
        Mutex mutex;
        T value GUARDED_BY(mutex);
        std::map<std::size_t, std::shared_ptr<Subscriber>> subscribers GUARDED_BY(mutex);
        std::size_t nextID GUARDED_BY(mutex) = 0;
    };

    static T currentValue(const std::shared_ptr<State>& state) {
        MutexLock lock(state->mutex);
        return state->value;
    }

    static void apply(const std::shared_ptr<State>& state, const std::shared_ptr<Executor>& main, T newValue) {
        std::map<std::size_t, std::shared_ptr<Subscriber>> subscribers;
        {
            MutexLock lock(state->mutex);
            state->value = newValue;
            subscribers = state->subscribers;
        }
        for (auto& [id, sub] : subscribers) deliver(state, main, sub, newValue);
    }

    static void deliver(const std::shared_ptr<State>& state, const std::shared_ptr<Executor>& main,
                        const std::shared_ptr<Subscriber>& sub, const T& v) {
        if (sub->cancelled) return;
        if (sub->options.debounce.count() > 0) {
            sub->setPending(main->postAfter(sub->options.debounce, [state, sub] { emit(sub, currentValue(state)); }));
            return;
        }
        emit(sub, v);
    }

    static void emit(const std::shared_ptr<Subscriber>& sub, const T& v) {
        if (sub->cancelled) return;
        if constexpr (std::equality_comparable<T>) {
            if (sub->options.dropRepeats && sub->lastDelivered && *sub->lastDelivered == v) return;
            if (sub->options.dropRepeats) sub->lastDelivered = v;
        }
        sub->handler(v);
    }

    std::shared_ptr<Executor> main_;
    std::shared_ptr<State> state_;
};

}  // namespace quib
