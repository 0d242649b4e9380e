#include "QuibHost/Panel/TextElision.hpp"

#include <utility>

namespace quib {
namespace {

constexpr std::string_view ellipsis = "…";

bool continues(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// The text cut into code points; a stray continuation byte stays with the one before it.
std::vector<std::string_view> codePoints(std::string_view text) {
    std::vector<std::string_view> points;
    std::size_t start = 0;
    for (std::size_t i = 1; i <= text.size(); ++i) {
        if (i < text.size() && continues(text[i])) continue;
        points.push_back(text.substr(start, i - start));
        start = i;
    }
    return points;
}

std::size_t lineCount(std::string_view text, double width, const TextMeasure& measure) {
    return wrapLines(text, width, measure).size();
}

}  // namespace

std::vector<std::string> wrapLines(std::string_view text, double width, const TextMeasure& measure) {
    std::vector<std::string> lines;
    std::string current;
    double used = 0;
    for (const auto point : codePoints(text)) {
        if (point == "\n") {
            lines.push_back(std::exchange(current, {}));
            used = 0;
            continue;
        }
        const double advance = measure(point);
        if (!current.empty() && used + advance > width) {
            lines.push_back(std::exchange(current, {}));
            used = 0;
        }
        current += point;
        used += advance;
    }
    lines.push_back(std::move(current));
    return lines;
}

// The longest beginning-and-end that fits is found by halving: keeping fewer characters never
// takes more lines.
std::string elideMiddle(std::string_view text, int lines, double width, const TextMeasure& measure) {
    if (lines <= 0) return {};
    const auto limit = static_cast<std::size_t>(lines);
    if (lineCount(text, width, measure) <= limit) return std::string(text);
    const auto points = codePoints(text);
    auto keeping = [&](std::size_t kept) {
        const std::size_t head = (kept + 1) / 2;
        std::string cut;
        for (std::size_t i = 0; i < head; ++i) cut += points[i];
        cut += ellipsis;
        for (std::size_t i = points.size() - (kept - head); i < points.size(); ++i) cut += points[i];
        return cut;
    };
    std::size_t low = 0;  // always fits, unless not even the ellipsis does
    std::size_t high = points.size() - 1;
    while (low < high) {
        const std::size_t middle = low + (high - low + 1) / 2;
        if (lineCount(keeping(middle), width, measure) <= limit) low = middle;
        else high = middle - 1;
    }
    return keeping(low);
}

}  // namespace quib
