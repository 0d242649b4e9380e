#pragma once

#include "Platform/VideoSessionFactory.hpp"

namespace quib {

// Stands in for video compression where the platform has none: no session ever opens, so no
// window is sent as video.
class AbsentVideoSessionFactory final : public VideoSessionFactory {
public:
    std::shared_ptr<VideoSession> open(ViewFrame::Codec, int, int, const VideoSession::Rates&) override {
        return nullptr;
    }
};

}  // namespace quib
