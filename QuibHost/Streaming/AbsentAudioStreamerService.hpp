#pragma once

#include "QuibHost/Streaming/AudioStreamerService.hpp"

namespace quib {

// Stands in for the audio streamer where there is no sound to capture: nobody is sent a sound,
// so an attached listen channel stays open without frames.
class AbsentAudioStreamerService final : public AudioStreamerService {
public:
    void attachListener(const std::shared_ptr<TlsConnection>&, const ListenHelloPayload&) override {}
    void detachListener(const TlsConnection&) override {}
};

}  // namespace quib
