#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "QuibHost/Connection/OutgoingQueue.hpp"
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
    // The numeric text of this end's address (an IPv4 address mapped into IPv6 as plain IPv4);
    // empty when unknown.
    virtual std::string localAddress() const = 0;
    // Any thread: the kernel holds at most about `bytes` not yet sent beyond what the link takes.
    virtual void limitNotSent(std::size_t bytes) = 0;
};

}  // namespace quib
