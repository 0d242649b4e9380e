#pragma once

#include "Platform/InterfaceWatch.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {

// Network interfaces that a test sets, and change reports it sends when it says so.
class SimulatedInterfaceWatch final : public InterfaceWatch {
public:
    explicit SimulatedInterfaceWatch(std::set<std::string> names = {}) : names_(std::move(names)) {}

    std::set<std::string> activeNames() override;
    bool start(asio::io_context& io, std::function<void()> changed) override;
    void stop() override;

    void setNames(std::set<std::string> names);
    // Posts one change report to the watcher's io_context, as the arrival of a message would.
    void announce();
    bool isWatching() const;

private:
    mutable Mutex mutex_;
    std::set<std::string> names_ GUARDED_BY(mutex_);
    asio::io_context* io_ GUARDED_BY(mutex_) = nullptr;
    std::function<void()> changed_ GUARDED_BY(mutex_);
};

}  // namespace quib
