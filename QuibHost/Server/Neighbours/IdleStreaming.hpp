#pragma once

#include "QuibHost/Server/Neighbours/StreamingService.hpp"

namespace quib {

// Stands in for the streamers until they exist: nobody views or listens, and nothing is mirrored.
class IdleStreaming final : public StreamingService {
public:
    void detachViewer(const TlsConnection&) override {}
    void detachListener(const TlsConnection&) override {}
    std::optional<Rect> pointableWindowFrame() override { return std::nullopt; }
};

}  // namespace quib
