#include "Platform/Simulated/SimulatedWindowStream.hpp"

#include <algorithm>

namespace quib {
namespace {

std::unique_ptr<PixelBufferPool> poolFor(const WindowStream::Configuration& configuration) {
    return std::make_unique<PixelBufferPool>(
        static_cast<int>(configuration.width), static_cast<int>(configuration.height),
        static_cast<std::size_t>(std::max<std::int64_t>(configuration.queueDepth, 1)));
}

}  // namespace

SimulatedWindowStream::SimulatedWindowStream(std::uint32_t window, const Configuration& configuration,
                                             std::shared_ptr<Executor> executor, Handlers handlers,
                                             std::shared_ptr<Clock> clock,
                                             std::function<std::optional<std::string>()> refusal)
    : window_(window),
      executor_(std::move(executor)),
      handlers_(std::move(handlers)),
      clock_(std::move(clock)),
      refusal_(std::move(refusal)),
      configuration_(configuration),
      pool_(poolFor(configuration)) {}

// The answer goes through the executor, behind the samples taken so far.
void SimulatedWindowStream::update(const Configuration& configuration, std::function<void(Result<void>)> done) {
    Result<void> outcome;
    if (auto refused = refusal_ ? refusal_() : std::nullopt) {
        outcome = fail(*refused);
    } else {
        MutexLock lock(mutex_);
        if (configuration.width != configuration_.width || configuration.height != configuration_.height)
            pool_ = poolFor(configuration);
        configuration_ = configuration;
        ++updates_;
    }
    executor_->post([done = std::move(done), outcome] {
        if (done) done(outcome);
    });
}

void SimulatedWindowStream::requestFrame() {
    MutexLock lock(mutex_);
    ++frameRequests_;
}

void SimulatedWindowStream::stop() {
    MutexLock lock(mutex_);
    stopped_ = true;
}

std::shared_ptr<const PixelBuffer> SimulatedWindowStream::deliver(std::int64_t status, bool withPicture) {
    std::shared_ptr<PixelBuffer> picture;
    if (withPicture) {
        MutexLock lock(mutex_);
        picture = pool_->take();
        if (!picture) return nullptr;
    }
    Sample sample{status, picture, clock_->now()};
    executor_->post([sample = std::move(sample), handler = handlers_.sample] {
        if (handler) handler(sample);
    });
    return picture;
}

void SimulatedWindowStream::stopBySystem(const std::string& description) {
    executor_->post([description, handler = handlers_.stopped] {
        if (handler) handler(description);
    });
}

void SimulatedWindowStream::windowGone() {
    executor_->post([handler = handlers_.gone] {
        if (handler) handler();
    });
}

WindowStream::Configuration SimulatedWindowStream::configuration() const {
    MutexLock lock(mutex_);
    return configuration_;
}

std::size_t SimulatedWindowStream::updates() const {
    MutexLock lock(mutex_);
    return updates_;
}

std::size_t SimulatedWindowStream::frameRequests() const {
    MutexLock lock(mutex_);
    return frameRequests_;
}

bool SimulatedWindowStream::isStopped() const {
    MutexLock lock(mutex_);
    return stopped_;
}

}  // namespace quib
