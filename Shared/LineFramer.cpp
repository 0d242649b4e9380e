#include "Shared/LineFramer.hpp"

#include <algorithm>

namespace quib {

LineFramer::LineFramer(std::int64_t maxLineBytes) : maxLineBytes_(maxLineBytes) {}

std::vector<std::string> LineFramer::append(std::string_view chunk) {
    feed(chunk);
    std::vector<std::string> lines;
    while (auto line = nextLine()) lines.push_back(std::move(*line));
    return lines;
}

void LineFramer::feed(std::string_view chunk) {
    discardHandedOut();
    buffer_.append(chunk);
}

void LineFramer::discardHandedOut() {
    if (start_ == 0) return;
    buffer_.erase(0, start_);
    scanned_ -= std::min(scanned_, start_);
    start_ = 0;
}

// Looks for the next line feed among the bytes not yet searched, so an unfinished line that
// grows by small reads is scanned once, not once per read.
std::size_t LineFramer::findLineFeed() {
    const auto end = buffer_.find('\n', std::max(start_, scanned_));
    scanned_ = end == std::string::npos ? buffer_.size() : end;
    return end;
}

std::optional<std::string> LineFramer::nextLine() {
    for (;;) {
        if (resynchronising_) {
            const auto end = findLineFeed();
            if (end == std::string::npos) {
                buffer_.clear();
                start_ = 0;
                scanned_ = 0;
                return std::nullopt;
            }
            start_ = end + 1;
            resynchronising_ = false;
        }
        const auto end = findLineFeed();
        if (end == std::string::npos) {
            limitRemainder();
            if (resynchronising_) continue;
            return std::nullopt;
        }
        std::string line = buffer_.substr(start_, end - start_);
        start_ = end + 1;
        if (!line.empty()) return line;
    }
}

void LineFramer::limitRemainder() {
    const auto remainder = static_cast<std::int64_t>(buffer_.size() - start_);
    discardHandedOut();
    if (remainder <= maxLineBytes_) return;
    buffer_.clear();
    scanned_ = 0;
    resynchronising_ = true;
    ++droppedLines_;
}

std::string LineFramer::drain() {
    std::string rest = buffer_.substr(start_);
    buffer_.clear();
    start_ = 0;
    scanned_ = 0;
    return rest;
}

}  // namespace quib
