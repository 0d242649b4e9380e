#pragma once

#include "QuibHost/Server/Neighbours/WindowListService.hpp"
#include "QuibHost/Streaming/AudioStreamerService.hpp"

namespace quib {

// Stands in for the audio streamer and the window list until they exist: nobody is sent a
// sound, so an attached listen channel stays open without frames, and no app has windows to
// list.
class IdleStreaming final : public AudioStreamerService, public WindowListService {
public:
    void attachListener(const std::shared_ptr<TlsConnection>&, const ListenHelloPayload&) override {}
    void detachListener(const TlsConnection&) override {}
    WindowList windows(const std::string&, std::optional<std::uint32_t>, bool) override { return {}; }
};

}  // namespace quib
