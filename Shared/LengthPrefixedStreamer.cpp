#include "Shared/LengthPrefixedStreamer.hpp"

#include <algorithm>

#include "Shared/LengthPrefixed.hpp"

namespace quib {

void LengthPrefixedStreamer::append(std::string_view bytes, Sink& sink) {
    while (!bytes.empty() || (inPayload_ && payloadLeft_ == 0)) {
        if (!inPayload_) {
            if (!readHead(bytes, sink)) {
                head_.clear();
                desynced_ = true;
                return;
            }
            continue;
        }
        if (payloadLeft_ > 0) {
            const std::string_view piece = bytes.substr(0, payloadLeft_);
            bytes.remove_prefix(piece.size());
            payloadLeft_ -= static_cast<std::uint32_t>(piece.size());
            sink.payload(piece);
            if (payloadLeft_ > 0) return;
        }
        inPayload_ = false;
        if (!sink.end()) return;
    }
}

// The header's length is judged as soon as its four bytes are here, the payload's once the
// header is whole, as the buffering cutter judges them.
bool LengthPrefixedStreamer::readHead(std::string_view& bytes, Sink& sink) {
    constexpr std::size_t lengthBytes = LengthPrefixed::lengthBytes;
    std::size_t wanted = lengthBytes;
    if (head_.size() >= lengthBytes) {
        const std::uint32_t headerLength = LengthPrefixed::readLength(head_.data());
        wanted = std::size_t{headerLength} + 2 * lengthBytes;
    }
    const std::size_t taken = std::min(wanted - head_.size(), bytes.size());
    head_.append(bytes.substr(0, taken));
    bytes.remove_prefix(taken);
    if (head_.size() < wanted) return true;
    if (wanted == lengthBytes) {
        const std::uint32_t headerLength = LengthPrefixed::readLength(head_.data());
        return headerLength != 0 && fits(headerLength);
    }
    const std::uint32_t payloadLength = LengthPrefixed::readLength(head_.data() + wanted - lengthBytes);
    if (!fits(payloadLength)) return false;
    sink.begin(std::string_view(head_).substr(lengthBytes, wanted - 2 * lengthBytes), payloadLength);
    head_.clear();
    payloadLeft_ = payloadLength;
    inPayload_ = true;
    return true;
}

}  // namespace quib
