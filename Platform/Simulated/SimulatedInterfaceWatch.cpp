#include "Platform/Simulated/SimulatedInterfaceWatch.hpp"

#include <asio/post.hpp>

namespace quib {

std::set<std::string> SimulatedInterfaceWatch::activeNames() {
    MutexLock lock(mutex_);
    return names_;
}

bool SimulatedInterfaceWatch::start(asio::io_context& io, std::function<void()> changed) {
    MutexLock lock(mutex_);
    io_ = &io;
    changed_ = std::move(changed);
    return true;
}

void SimulatedInterfaceWatch::stop() {
    MutexLock lock(mutex_);
    io_ = nullptr;
    changed_ = nullptr;
}

void SimulatedInterfaceWatch::setNames(std::set<std::string> names) {
    MutexLock lock(mutex_);
    names_ = std::move(names);
}

// The report runs on the io_context's thread, and only while the watch is still started then.
void SimulatedInterfaceWatch::announce() {
    MutexLock lock(mutex_);
    if (!io_) return;
    asio::post(*io_, [this] {
        std::function<void()> changed;
        {
            MutexLock lock(mutex_);
            changed = changed_;
        }
        if (changed) changed();
    });
}

bool SimulatedInterfaceWatch::isWatching() const {
    MutexLock lock(mutex_);
    return io_ != nullptr;
}

}  // namespace quib
