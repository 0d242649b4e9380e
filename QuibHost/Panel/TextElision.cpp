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

// The text cut where a word or a line begins: each piece is a run of other characters, then the
// blanks and line feeds after it.
std::vector<std::string_view> pieces(std::string_view text) {
    std::vector<std::string_view> found;
    std::size_t start = 0;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const bool afterBreak = text[i - 1] == ' ' || text[i - 1] == '\n';
        if (afterBreak && text[i] != ' ' && text[i] != '\n') {
            found.push_back(text.substr(start, i - start));
            start = i;
        }
    }
    if (start < text.size()) found.push_back(text.substr(start));
    return found;
}

std::size_t lineCount(std::string_view text, double width, const TextMeasure& measure) {
    return wrapLines(text, width, measure).size();
}

// The beginning and the end of `units` around an ellipsis, keeping `kept` of them, the beginning
// the odd one.
std::string keeping(const std::vector<std::string_view>& units, std::size_t kept) {
    const std::size_t head = (kept + 1) / 2;
    std::string cut;
    for (std::size_t i = 0; i < head; ++i) cut += units[i];
    cut += ellipsis;
    for (std::size_t i = units.size() - (kept - head); i < units.size(); ++i) cut += units[i];
    return cut;
}

// How many units fit at most, found by halving: keeping fewer never takes more lines.
std::size_t mostKept(const std::vector<std::string_view>& units, std::size_t limit, double width,
                     const TextMeasure& measure) {
    std::size_t low = 0;
    std::size_t high = units.empty() ? 0 : units.size() - 1;
    while (low < high) {
        const std::size_t middle = low + (high - low + 1) / 2;
        if (lineCount(keeping(units, middle), width, measure) <= limit) low = middle;
        else high = middle - 1;
    }
    return low;
}

}  // namespace

// A line that overflows breaks after its last blank, so that words stay whole; a word wider than
// the line breaks before the character that overflows. Blanks at a break stay at the end of the
// line they follow, where they take no room.
std::vector<std::string> wrapLines(std::string_view text, double width, const TextMeasure& measure) {
    std::vector<std::string> lines;
    std::string current;
    double used = 0;
    double blanks = 0;                          // the blanks at the line's end, which count once a word follows them
    double wordWidth = 0;                       // the width of the word after the line's last blank
    std::size_t wordStart = std::string::npos;  // where that word begins
    for (const auto point : codePoints(text)) {
        if (point == "\n") {
            lines.push_back(std::exchange(current, {}));
            used = blanks = wordWidth = 0;
            wordStart = std::string::npos;
            continue;
        }
        const double advance = measure(point);
        if (point == " ") {
            current += point;
            blanks += advance;
            wordWidth = 0;
            wordStart = current.size();
            continue;
        }
        if (!current.empty() && used + blanks + advance > width) {
            std::string word = wordStart == std::string::npos ? std::string() : current.substr(wordStart);
            if (wordStart != std::string::npos) current.resize(wordStart);
            lines.push_back(std::exchange(current, std::move(word)));
            used = wordStart == std::string::npos ? 0 : wordWidth;
            wordStart = std::string::npos;
        } else {
            used += blanks;
        }
        blanks = 0;
        current += point;
        used += advance;
        wordWidth += advance;
    }
    lines.push_back(std::move(current));
    return lines;
}

// Whole words and lines are kept from both ends when at least one fits at each; else the text
// is cut between characters.
std::string elideMiddle(std::string_view text, int lines, double width, const TextMeasure& measure) {
    if (lines <= 0) return {};
    const auto limit = static_cast<std::size_t>(lines);
    if (lineCount(text, width, measure) <= limit) return std::string(text);
    const auto words = pieces(text);
    if (words.size() > 2) {
        const std::size_t kept = mostKept(words, limit, width, measure);
        if (kept >= 2) return keeping(words, kept);
    }
    const auto points = codePoints(text);
    return keeping(points, mostKept(points, limit, width, measure));
}

}  // namespace quib
