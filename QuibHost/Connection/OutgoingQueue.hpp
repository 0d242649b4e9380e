#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "Runtime/Bytes.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Result.hpp"

namespace quib {

// Told once how a send ended: when its last byte was written, or why it never will be.
using SendCompletion = std::function<void(Result<MonoTime> written)>;

// The writes of one connection, in the order they were asked for. A TLS stream takes one write
// at a time, so the connection writes the front item, pops it when done, and goes on with the
// next. An item may ask for the connection to close once it has been written; items behind it
// are then never written. Not thread-safe: the connection uses it on the network queue only.
class OutgoingQueue {
public:
    struct Item {
        std::string bytes;  // may be empty: a close with nothing more to write
        bool closeAfter = false;
        // Written instead of `bytes` when present: one message shared with other connections,
        // never copied.
        std::shared_ptr<const Bytes> shared = nullptr;
        SendCompletion completed = nullptr;  // may be empty

        // What is written.
        std::span<const std::uint8_t> data() const;
    };

    // Adds an item; true when nothing was being written, so the caller starts writing front().
    bool push(Item item);

    // The item being written. Its bytes stay put until pop(), whatever is pushed meanwhile.
    const Item& front() const { return items_.front(); }

    // The item added last.
    const Item& back() const { return items_.back(); }

    // Ends the write of the front item and returns it; the next item, if any, is front() now.
    Item pop();

    bool empty() const { return items_.empty(); }
    std::size_t size() const { return items_.size(); }
    std::size_t queuedBytes() const { return queuedBytes_; }
    // Empties the queue; returns what it held, so that each item's completion can be told.
    std::deque<Item> clear();

private:
    std::deque<Item> items_;
    std::size_t queuedBytes_ = 0;
};

}  // namespace quib
