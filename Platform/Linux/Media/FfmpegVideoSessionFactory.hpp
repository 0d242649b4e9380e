#pragma once

#include <memory>

#include "Platform/VideoSessionFactory.hpp"

namespace quib {

// Opens H.264 sessions over libx264. It opens no HEVC session: libx265 is too slow for a picture
// every 16.7 ms at the sizes windows are captured at, and it cannot change its bit rate without
// starting over with a key frame. Asked for HEVC it answers none, so the encoder takes H.264.
class FfmpegVideoSessionFactory final : public VideoSessionFactory {
public:
    struct Config {
        // Opens libx265 sessions as well, for checking HEVC output; never in the host.
        bool softwareHevc = false;
    };

    FfmpegVideoSessionFactory() = default;
    explicit FfmpegVideoSessionFactory(Config config) : config_(config) {}

    std::shared_ptr<VideoSession> open(ViewFrame::Codec codec, int width, int height,
                                       const VideoSession::Rates& rates) override;

private:
    Config config_{};
};

}  // namespace quib
