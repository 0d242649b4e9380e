#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Platform/PixelBufferPool.hpp"
#include "Platform/WindowStream.hpp"
#include "Runtime/Executor.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {

// A stream of one window of the simulated desktop. It takes a picture only when a test says so
// (`deliver`), with whatever status the test gives, sized as configured; a test can also stop it
// as the desktop would on its own. A stop by the host only marks it: a test may still deliver a
// late sample, as one already under way would arrive. Safe on any thread.
class SimulatedWindowStream final : public WindowStream {
public:
    // `refusal` says why an update is refused now; none: updates are taken.
    SimulatedWindowStream(std::uint32_t window, const Configuration& configuration, std::shared_ptr<Executor> executor,
                          Handlers handlers, std::shared_ptr<Clock> clock,
                          std::function<std::optional<std::string>()> refusal);

    void update(const Configuration& configuration, std::function<void(Result<void>)> done) override;
    void requestFrame() override;
    void stop() override;

    // Takes one sample with `status`, with a picture of the configured size unless `withPicture`
    // is false, and hands it to the executor; returns the picture. Nothing is taken while the
    // stream's queue depth of pictures is still held.
    std::shared_ptr<const PixelBuffer> deliver(std::int64_t status = FrameStatus::complete, bool withPicture = true);
    // Stops the stream as the desktop would on its own, reporting `description`.
    void stopBySystem(const std::string& description);
    // Says the window has gone, as a stream does when its window is destroyed.
    void windowGone();

    std::uint32_t window() const { return window_; }
    Configuration configuration() const;
    std::size_t updates() const;        // the updates taken
    std::size_t frameRequests() const;  // how often the next picture was asked for
    bool isStopped() const;             // by the host

private:
    const std::uint32_t window_;
    const std::shared_ptr<Executor> executor_;
    const Handlers handlers_;
    const std::shared_ptr<Clock> clock_;
    const std::function<std::optional<std::string>()> refusal_;

    mutable Mutex mutex_;  // guards everything below
    Configuration configuration_ GUARDED_BY(mutex_);
    std::unique_ptr<PixelBufferPool> pool_ GUARDED_BY(mutex_);
    std::size_t updates_ GUARDED_BY(mutex_) = 0;
    std::size_t frameRequests_ GUARDED_BY(mutex_) = 0;
    bool stopped_ GUARDED_BY(mutex_) = false;
};

}  // namespace quib
