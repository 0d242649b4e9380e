#include "Platform/Linux/Media/FfmpegVideoSessionFactory.hpp"

#include "Platform/Linux/Media/FfmpegVideoSession.hpp"

namespace quib {

std::shared_ptr<VideoSession> FfmpegVideoSessionFactory::open(ViewFrame::Codec codec, int width, int height,
                                                              const VideoSession::Rates& rates) {
    if (codec == ViewFrame::Codec::hevc && !config_.softwareHevc) return nullptr;
    return FfmpegVideoSession::open(codec, width, height, rates);
}

}  // namespace quib
