#pragma once

#include <memory>

#include "Platform/VideoSession.hpp"
#include "Shared/ViewFrame.hpp"

namespace quib {

// Opens video compression sessions.
class VideoSessionFactory {
public:
    virtual ~VideoSessionFactory() = default;

    // A session of `codec` for pictures of `width` × `height`, holding to `rates`; none when
    // the platform cannot make a real-time session of that codec and size.
    virtual std::shared_ptr<VideoSession> open(ViewFrame::Codec codec, int width, int height,
                                               const VideoSession::Rates& rates) = 0;
};

}  // namespace quib
