#include "QuibHost/Connection/OutgoingQueue.hpp"

#include <utility>

namespace quib {

std::span<const std::uint8_t> OutgoingQueue::Item::data() const {
    if (shared) return *shared;
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

bool OutgoingQueue::push(Item item) {
    const bool wasIdle = items_.empty();
    queuedBytes_ += item.data().size();
    items_.push_back(std::move(item));
    return wasIdle;
}

OutgoingQueue::Item OutgoingQueue::pop() {
    Item item = std::move(items_.front());
    items_.pop_front();
    queuedBytes_ -= item.data().size();
    return item;
}

std::deque<OutgoingQueue::Item> OutgoingQueue::clear() {
    queuedBytes_ = 0;
    return std::exchange(items_, {});
}

}  // namespace quib
