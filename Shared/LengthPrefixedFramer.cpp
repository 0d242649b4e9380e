#include "Shared/LengthPrefixedFramer.hpp"

namespace quib {

std::vector<LengthPrefixedCutter::Piece> LengthPrefixedCutter::append(std::string_view bytes) {
    constexpr std::size_t lengthBytes = LengthPrefixed::lengthBytes;
    buffer_.append(bytes);
    std::vector<Piece> pieces;
    std::size_t at = 0;
    while (buffer_.size() - at >= lengthBytes) {
        const std::size_t left = buffer_.size() - at;
        const std::uint32_t headerLength = LengthPrefixed::readLength(buffer_.data() + at);
        if (headerLength == 0 || !fits(headerLength)) return damaged(std::move(pieces));
        if (left < headerLength + 2 * lengthBytes) break;
        const std::uint32_t payloadLength =
            LengthPrefixed::readLength(buffer_.data() + at + lengthBytes + headerLength);
        if (!fits(payloadLength)) return damaged(std::move(pieces));
        const std::size_t frameLength = std::size_t{headerLength} + payloadLength + 2 * lengthBytes;
        if (left < frameLength) break;
        const char* header = buffer_.data() + at + lengthBytes;
        const char* payload = header + headerLength + lengthBytes;
        pieces.push_back(Piece{std::string(header, headerLength), Bytes(payload, payload + payloadLength)});
        at += frameLength;
    }
    buffer_.erase(0, at);
    return pieces;
}

std::vector<LengthPrefixedCutter::Piece> LengthPrefixedCutter::damaged(std::vector<Piece> pieces) {
    buffer_.clear();
    desynced_ = true;
    return pieces;
}

}  // namespace quib
