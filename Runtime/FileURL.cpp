#include "Runtime/FileURL.hpp"

#include <string>

#include "Runtime/AsciiText.hpp"
#include "Runtime/UnicodeText.hpp"

namespace quib {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The bytes the percent escapes stand for; none for a broken escape.
std::optional<std::string> percentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

}  // namespace

std::optional<std::filesystem::path> pathOfFileURL(std::string_view url) {
    constexpr std::string_view scheme = "file://";
    if (url.size() < scheme.size() || !ascii::equalIgnoringCase(url.substr(0, scheme.size()), scheme))
        return std::nullopt;
    std::string_view rest = url.substr(scheme.size());
    rest = rest.substr(0, rest.find_first_of("?#"));
    const auto slash = rest.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const std::string_view host = rest.substr(0, slash);
    if (!host.empty() && !ascii::equalIgnoringCase(host, "localhost")) return std::nullopt;
    auto path = percentDecoded(rest.substr(slash));
    if (!path || path->find('\0') != std::string::npos || !unicode::isValidUtf8(*path)) return std::nullopt;
    return std::filesystem::path(*path);
}

}  // namespace quib
