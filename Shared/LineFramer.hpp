#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quib {

// Cuts a received byte stream into lines at 0x0A. Empty lines are skipped; a carriage return
// stays part of its line. An unterminated remainder longer than `maxLineBytes` is thrown away,
// together with the rest of that line up to its line feed.
class LineFramer {
public:
    explicit LineFramer(std::int64_t maxLineBytes);

    // Appends one receive and returns every complete, non-empty line, in order, without its 0x0A.
    std::vector<std::string> append(std::string_view chunk);

    // Appends one receive without cutting it into lines; `nextLine` then hands them out one at
    // a time, so a caller can stop after a line that changes how the rest must be read.
    void feed(std::string_view chunk);
    // The next complete, non-empty line of what was fed, or nothing when none is complete yet.
    std::optional<std::string> nextLine();

    // The whole buffer, emptied; the resynchronising state and the dropped count stay.
    std::string drain();

    std::int64_t droppedLines() const { return droppedLines_; }
    std::int64_t maxLineBytes() const { return maxLineBytes_; }

private:
    void discardHandedOut();
    std::size_t findLineFeed();
    // Enforces the length limit on the unterminated remainder once no line is left.
    void limitRemainder();

    std::string buffer_;
    std::size_t start_ = 0;    // bytes before this offset have been handed out already
    std::size_t scanned_ = 0;  // no line feed lies between start_ and this offset
    std::int64_t maxLineBytes_;
    bool resynchronising_ = false;
    std::int64_t droppedLines_ = 0;
};

}  // namespace quib
