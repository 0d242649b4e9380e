#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "Runtime/WorkerThread.hpp"

namespace quib::testing {

// Plays a 440 Hz tone, 32-bit float stereo at 48000 Hz, into a sink of a sound server (the
// environment's unless named; its default sink unless named) through a playback stream of its
// own, until destroyed.
class TonePlayer {
public:
    static constexpr double frequency = 440.0;

    explicit TonePlayer(std::optional<std::string> sink = std::nullopt,
                        std::optional<std::string> server = std::nullopt);
    ~TonePlayer();
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;

    // The stream connected and has written at least once.
    bool isPlaying() const { return playing_.load(); }
    // Why it could not play, once it has given up.
    const std::string& failure() const { return failure_; }

private:
    void play(const std::optional<std::string>& sink, const std::optional<std::string>& server);

    std::atomic<bool> stopping_{false};
    std::atomic<bool> playing_{false};
    std::string failure_;
    WorkerThread thread_;
};

}  // namespace quib::testing
