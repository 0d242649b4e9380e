// Feeds the input to a line framer in reads whose sizes the input's first bytes choose, and
// checks every line against a plain split of the same bytes.
#include <string>
#include <vector>

#include "FuzzSupport.hpp"
#include "Shared/LineFramer.hpp"

namespace {

// The non-empty lines of `stream` that end in a line feed.
std::vector<std::string> split(std::string_view stream) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = stream.find('\n', start)) != std::string_view::npos; start = end + 1)
        if (end > start) lines.emplace_back(stream.substr(start, end - start));
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quib;
    if (size < 2) return 0;
    const std::size_t limit = 1 + data[0] % 64;
    const std::size_t step = 1 + data[1] % 17;
    const std::string_view stream = fuzz::text(data + 2, size - 2);

    LineFramer framer(static_cast<std::int64_t>(limit));
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < stream.size(); at += step) {
        for (auto& line : framer.append(stream.substr(at, step))) {
            fuzz::require(!line.empty() && line.find('\n') == std::string::npos);
            lines.push_back(std::move(line));
        }
    }
    // With nothing dropped, the framer hands out exactly the lines a plain split finds.
    if (framer.droppedLines() == 0) fuzz::require(lines == split(stream));
    const std::string rest = framer.drain();
    fuzz::require(rest.find('\n') == std::string::npos && rest.size() <= limit);
    return 0;
}
