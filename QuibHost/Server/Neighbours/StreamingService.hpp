#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Runtime/Geometry.hpp"
#include "Shared/ListenHelloPayload.hpp"
#include "Shared/MacWindow.hpp"
#include "Shared/ViewHelloPayload.hpp"

namespace quib {

class TlsConnection;

// What the connection server asks of the view and audio streamers and of the window roster.
class StreamingService {
public:
    // The windows of an app that a phone picks from, and a note for the phone about the list.
    struct WindowList {
        std::vector<MacWindow> windows;
        std::optional<std::string> note;
    };

    virtual ~StreamingService() = default;
    // An approved view or listen channel after its hello, on the network queue: from now on the
    // streamer alone writes to the connection, and only frames.
    virtual void attachViewer(const std::shared_ptr<TlsConnection>& connection, const ViewHelloPayload& hello) = 0;
    virtual void attachListener(const std::shared_ptr<TlsConnection>& connection, const ListenHelloPayload& hello) = 0;
    // When a connection ends, called on the network queue; a connection that is not a viewer or
    // listener changes nothing.
    virtual void detachViewer(const TlsConnection& connection) = 0;
    virtual void detachListener(const TlsConnection& connection) = 0;
    // The screen frame of the window being mirrored, which a phone may point at; none when
    // nothing is mirrored. Any thread.
    virtual std::optional<Rect> pointableWindowFrame() = 0;
    // The app's windows, the pinned one marked, with pictures when asked. Any thread but the
    // main one; it may take a while. Every problem becomes the note.
    virtual WindowList windows(const std::string& bundleID, std::optional<std::uint32_t> pinned, bool withPreviews) = 0;
};

}  // namespace quib
