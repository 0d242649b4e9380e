#pragma once

#include <memory>
#include <optional>

#include "Runtime/Geometry.hpp"
#include "Shared/ViewHelloPayload.hpp"

namespace quib {

class TlsConnection;

// What the connection server asks of the view streamer.
class PanelStreamerService {
public:
    virtual ~PanelStreamerService() = default;
    // An approved view channel after its hello, on the network queue: from now on the streamer
    // alone writes to the connection, and only frames.
    virtual void attachViewer(const std::shared_ptr<TlsConnection>& connection, const ViewHelloPayload& hello) = 0;
    // When a connection ends, called on the network queue; a connection that is not a viewer
    // changes nothing.
    virtual void detachViewer(const TlsConnection& connection) = 0;
    // The screen frame of the window being mirrored, which a phone may point at; none when
    // nothing is mirrored. Any thread.
    virtual std::optional<Rect> pointableWindowFrame() = 0;
};

}  // namespace quib
