#pragma once

#include <memory>

#include "QuibHost/Server/OutgoingQueue.hpp"
#include "Runtime/Bytes.hpp"

namespace quib {

// A view channel as the panel streamer writes to it: whole frames only, each one told back.
class ViewConnection {
public:
    virtual ~ViewConnection() = default;
    // What tells viewers apart: the same for every hello of one connection.
    virtual const void* identity() const = 0;
    // Sends one framed message, which other viewers may share, behind every earlier one.
    // `completed` is called once, later, never inside this call: with the time the last byte
    // went out, or with why it never will.
    virtual void send(std::shared_ptr<const Bytes> frame, SendCompletion completed) = 0;
    // Whether the connection runs over a peer-to-peer wireless link, which takes less.
    virtual bool isPeerToPeer() const = 0;
};

}  // namespace quib
