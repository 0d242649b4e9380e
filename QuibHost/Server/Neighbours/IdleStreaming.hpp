#pragma once

#include "QuibHost/Server/Neighbours/AudioStreamerService.hpp"
#include "QuibHost/Streaming/PanelStreamerService.hpp"
#include "QuibHost/Server/Neighbours/WindowListService.hpp"

namespace quib {

// Stands in for the streamers until they exist: nobody is sent a picture or a sound, so an
// attached view or listen channel stays open without frames; nothing is mirrored, and no app has
// windows to list.
class IdleStreaming final : public PanelStreamerService, public AudioStreamerService, public WindowListService {
public:
    void attachViewer(const std::shared_ptr<TlsConnection>&, const ViewHelloPayload&) override {}
    void attachListener(const std::shared_ptr<TlsConnection>&, const ListenHelloPayload&) override {}
    void detachViewer(const TlsConnection&) override {}
    void detachListener(const TlsConnection&) override {}
    std::optional<Rect> pointableWindowFrame() override { return std::nullopt; }
    WindowList windows(const std::string&, std::optional<std::uint32_t>, bool) override { return {}; }
};

}  // namespace quib
