#pragma once

#include <cstddef>
#include <memory>

#include "QuibHost/Connection/OutgoingQueue.hpp"
#include "Runtime/Bytes.hpp"
#include "Runtime/Result.hpp"

namespace quib {

// A listen channel as the audio streamer writes to it: whole frames only, each one told back.
class ListenConnection {
public:
    virtual ~ListenConnection() = default;
    // What tells listeners apart: the same for every hello of one connection.
    virtual const void* identity() const = 0;
    // Sends one framed message, which other listeners may share, behind every earlier one.
    // `completed` is called once, later, never inside this call: with the time the last byte
    // went out, or with why it never will.
    virtual void send(std::shared_ptr<const Bytes> frame, SendCompletion completed) = 0;
    // Keeps at most `bytes` unsent in the kernel, so that a slow listener shows itself in the
    // sends themselves. Called on the connection's own queue.
    virtual Result<void> setNotSentLowWater(std::size_t bytes) = 0;
};

}  // namespace quib
