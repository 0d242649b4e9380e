#include "Platform/Freedesktop/ExecLine.hpp"

#include <optional>
#include <string_view>

namespace quib::ExecLine {
namespace {

// A word as written, quotes and escapes resolved.
struct Word {
    std::string text;
};

std::optional<std::vector<Word>> split(std::string_view line) {
    std::vector<Word> words;
    std::optional<Word> word;
    bool inQuotes = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (!inQuotes && (c == ' ' || c == '\t' || c == '\n')) {
            if (word) words.push_back(std::move(*word));
            word.reset();
            continue;
        }
        if (!word) word = Word{};
        if (c == '"') {
            inQuotes = !inQuotes;
        } else if (c == '\\' && i + 1 < line.size()) {
            word->text += line[++i];
        } else {
            word->text += c;
        }
    }
    if (inQuotes) return std::nullopt;
    if (word) words.push_back(std::move(*word));
    return words;
}

bool isFileCode(char code) { return std::string_view("fFuUdDnNvm").find(code) != std::string_view::npos; }

// The word with its field codes expanded in place.
std::string expand(std::string_view text, const DesktopEntry& entry) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (text[++i]) {
            case '%': out += '%'; break;
            case 'c': out += entry.localizedName(); break;
            case 'k': out += entry.file.string(); break;
            case 'i': out += entry.icon; break;
            default: break;  // a file, URL or unknown code: no files are passed
        }
    }
    return out;
}

}  // namespace

Result<std::vector<std::string>> arguments(const DesktopEntry& entry) {
    const auto words = split(entry.exec);
    if (!words) return fail("The command line of " + entry.localizedName() + " has an unclosed quote");
    std::vector<std::string> result;
    for (const Word& word : *words) {
        const bool alone = word.text.size() == 2 && word.text[0] == '%';
        if (alone && isFileCode(word.text[1])) continue;
        if (alone && word.text[1] == 'i') {
            if (!entry.icon.empty()) result.insert(result.end(), {"--icon", entry.icon});
            continue;
        }
        std::string expanded = expand(word.text, entry);
        // A word that was one unknown code stands for nothing, as a file code does.
        if (alone && expanded.empty()) continue;
        result.push_back(std::move(expanded));
    }
    if (result.empty() || result.front().empty())
        return fail(entry.localizedName() + " has no command to start it with");
    return result;
}

}  // namespace quib::ExecLine
