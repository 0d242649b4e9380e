#pragma once

namespace quib {

class TlsConnection;

// What the connection server tells the view and audio streamers when a connection ends.
// Called on the network queue; a connection that is not a viewer or listener changes nothing.
class StreamingService {
public:
    virtual ~StreamingService() = default;
    virtual void detachViewer(const TlsConnection& connection) = 0;
    virtual void detachListener(const TlsConnection& connection) = 0;
};

}  // namespace quib
