#include "QuibHost/Server/Neighbours/IdlePushSender.hpp"

#include <algorithm>
#include <cctype>

namespace quib {

namespace {

bool isAlpha(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// Unreserved, general and sub-delimiters: every character a URL holds without escaping.
bool isUrlCharacter(char c) {
    static constexpr std::string_view marks = "-._~:/?#[]@!$&'()*+,;=";
    return isAlpha(c) || isDigit(c) || marks.find(c) != std::string_view::npos;
}

bool isScheme(std::string_view text) {
    if (text.empty() || !isAlpha(text.front())) return false;
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return isAlpha(c) || isDigit(c) || c == '+' || c == '-' || c == '.'; });
}

}  // namespace

bool IdlePushSender::isConfigured() const {
    const auto relay = settings_->string(relayKey);
    return relay && parsesAsUrl(*relay);
}

bool IdlePushSender::parsesAsUrl(std::string_view text) {
    if (text.empty() || std::count(text.begin(), text.end(), '#') > 1) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) return false;
            i += 2;
        } else if (!isUrlCharacter(text[i])) {
            return false;
        }
    }
    const auto colon = text.find(':');
    const auto pathStart = text.find_first_of("/?#");
    return colon == std::string_view::npos || colon > pathStart || isScheme(text.substr(0, colon));
}

}  // namespace quib
