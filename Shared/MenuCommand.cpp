#include "Shared/MenuCommand.hpp"

#include "Runtime/UnicodeText.hpp"

namespace quib {
namespace {

bool dropSuffix(std::string& text, std::string_view suffix) {
    if (!text.ends_with(suffix)) return false;
    text.resize(text.size() - suffix.size());
    return true;
}

// The pieces between runs of white space, joined with one space.
std::string collapsedWhiteSpace(std::string_view text) {
    std::string out;
    bool pendingSpace = false;
    for (const char32_t scalar : unicode::codePoints(text)) {
        if (unicode::isWhiteSpace(scalar)) {
            pendingSpace = !out.empty();
            continue;
        }
        if (pendingSpace) out += ' ';
        pendingSpace = false;
        out += unicode::toUtf8(scalar);
    }
    return out;
}

}  // namespace

std::string MenuCommand::normalisedTitle() const {
    std::string text(unicode::trimWhiteSpace(unicode::lower(title)));
    dropSuffix(text, "\u2026");
    dropSuffix(text, "...");
    return collapsedWhiteSpace(text);
}

MenuCommand MenuCommand::fromJson(const Json& json) {
    const JsonReader r(json);
    return MenuCommand{r.required<std::string>("menu"), r.required<std::string>("title"),
                       r.required<KeyChord>("chord")};
}

Json MenuCommand::toJson() const {
    return JsonWriter().put("menu", menu).put("title", title).put("chord", chord).take();
}

}  // namespace quib

std::size_t std::hash<quib::MenuCommand>::operator()(const quib::MenuCommand& command) const noexcept {
    std::size_t seed = std::hash<std::string>{}(command.menu);
    const auto mix = [&seed](std::size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); };
    mix(std::hash<std::string>{}(command.title));
    mix(std::hash<quib::KeyChord>{}(command.chord));
    return seed;
}
