#pragma once

#include "Platform/AudioCapture.hpp"
#include "Runtime/SerialQueue.hpp"

namespace quib {

// The computer's sound output through its PulseAudio server (PipeWire's Pulse server works the
// same way): each opening is a PulseAudioStream of its own, connected on a worker of this
// capture. Recording needs no one's consent, so it is always permitted.
class PulseAudioCapture final : public AudioCapture {
public:
    PulseAudioCapture();

    bool isPermitted() const override { return true; }
    std::string sourceName() const override { return "PulseAudio"; }
    void open(std::shared_ptr<Executor> queue, Handlers handlers, Opened opened) override;

private:
    SerialQueue connecting_;
};

}  // namespace quib
