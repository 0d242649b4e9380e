#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/AudioCapture.hpp"

namespace quib {

// A sound output that a test plays into. Openings end as the test says (running, nothing to
// capture, failed, or held until released), buffers of any format go to every stream opened and
// not stopped, and a stream can be stopped as the system would stop it. Permission is a switch.
class SimulatedAudioCapture final : public AudioCapture {
public:
    enum class Outcome { start, nothingToCapture, fail, hold };

    SimulatedAudioCapture();

    bool isPermitted() const override;
    std::string sourceName() const override { return "the simulated output"; }
    void open(std::shared_ptr<Executor> queue, Handlers handlers, Opened opened) override;

    void setPermitted(bool permitted);
    // How the openings from now on end; `reason` is a failure's.
    void setOutcome(Outcome outcome, std::string reason = {});
    // Ends the oldest held opening with a running stream, calling its `opened` on this thread.
    // False when none is held.
    bool releaseHeld();

    // Posts `frames` frames of `format` (a rising ramp, the same in every channel) to each stream
    // that is open or held and not stopped.
    void play(const PcmFormat& format, std::int64_t frames);
    // Ends the newest live stream as the system would: its stop report goes to its queue.
    void stopBySystem(const std::string& reason);

    int openings() const;
    // Streams opened (held ones too) and neither stopped nor ended by the system.
    int liveStreams() const;
    int stopsAsked() const;

private:
    struct Session;
    struct State;
    class SimulatedStream;

    std::shared_ptr<State> state_;
};

}  // namespace quib
