#include "QuibHost/Server/OutgoingQueue.hpp"

#include <utility>

namespace quib {

bool OutgoingQueue::push(Item item) {
    const bool wasIdle = items_.empty();
    queuedBytes_ += item.bytes.size();
    items_.push_back(std::move(item));
    return wasIdle;
}

OutgoingQueue::Item OutgoingQueue::pop() {
    Item item = std::move(items_.front());
    items_.pop_front();
    queuedBytes_ -= item.bytes.size();
    return item;
}

void OutgoingQueue::clear() {
    items_.clear();
    queuedBytes_ = 0;
}

}  // namespace quib
