#pragma once

#include "QuibHost/Server/Neighbours/StreamingService.hpp"

namespace quib {

// Stands in for the streamers until they exist: nobody views or listens, nothing is mirrored,
// and no app has windows to list.
class IdleStreaming final : public StreamingService {
public:
    void detachViewer(const TlsConnection&) override {}
    void detachListener(const TlsConnection&) override {}
    std::optional<Rect> pointableWindowFrame() override { return std::nullopt; }
    WindowList windows(const std::string&, std::optional<std::uint32_t>, bool) override { return {}; }
};

}  // namespace quib
