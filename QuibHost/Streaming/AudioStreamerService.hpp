#pragma once

#include <memory>

#include "Shared/ListenHelloPayload.hpp"

namespace quib {

class TlsConnection;

// What the connection server asks of the audio streamer.
class AudioStreamerService {
public:
    virtual ~AudioStreamerService() = default;
    // An approved listen channel after its hello, on the network queue: from now on the streamer
    // alone writes to the connection, and only frames.
    virtual void attachListener(const std::shared_ptr<TlsConnection>& connection, const ListenHelloPayload& hello) = 0;
    // When a connection ends, called on the network queue; a connection that is not a listener
    // changes nothing.
    virtual void detachListener(const TlsConnection& connection) = 0;
};

}  // namespace quib
