#pragma once

#include <optional>

#include "Platform/Geometry.hpp"

namespace quib {

class TlsConnection;

// What the connection server asks of the view and audio streamers.
class StreamingService {
public:
    virtual ~StreamingService() = default;
    // When a connection ends, called on the network queue; a connection that is not a viewer or
    // listener changes nothing.
    virtual void detachViewer(const TlsConnection& connection) = 0;
    virtual void detachListener(const TlsConnection& connection) = 0;
    // The screen frame of the window being mirrored, which a phone may point at; none when
    // nothing is mirrored. Any thread.
    virtual std::optional<Rect> pointableWindowFrame() = 0;
};

}  // namespace quib
