#include "Platform/Linux/Atspi/AtspiKeyBinding.hpp"

#include <array>
#include <utility>
#include <vector>

#include "Platform/MenuReader.hpp"
#include "Runtime/UnicodeText.hpp"
#include "Shared/KeyChord.hpp"

namespace quib::AtspiKeyBinding {
namespace {

using Name = std::pair<std::string_view, std::string_view>;

// Modifier names of both toolkits; those of keys the host never presses give no chord.
constexpr std::array<std::pair<std::string_view, std::int64_t>, 6> modifierBits{{
    {"shift", MenuReader::shiftModifier},
    {"alt", MenuReader::optionModifier},
    {"mod1", MenuReader::optionModifier},
    {"control", MenuReader::controlModifier},
    {"ctrl", MenuReader::controlModifier},
    {"primary", MenuReader::controlModifier},
}};

// Keys named by the character they type.
constexpr std::array<Name, 13> characterNames{{
    {"grave", "`"},
    {"minus", "-"},
    {"equal", "="},
    {"comma", ","},
    {"period", "."},
    {"slash", "/"},
    {"semicolon", ";"},
    {"apostrophe", "'"},
    {"bracketleft", "["},
    {"bracketright", "]"},
    {"backslash", "\\"},
    {"space", " "},
    {"plus", "+"},
}};

// Keys whose equivalent is a control character.
constexpr std::array<Name, 10> controlNames{{
    {"Return", "\r"},
    {"KP_Enter", "\r"},
    {"Enter", "\r"},
    {"BackSpace", "\b"},
    {"Backspace", "\b"},
    {"Tab", "\t"},
    {"ISO_Left_Tab", "\t"},
    {"Backtab", "\t"},
    {"Escape", "\x1b"},
    {"Esc", "\x1b"},
}};

// Keys without a character, by the host's name for them.
constexpr std::array<Name, 14> virtualKeyNames{{
    {"Delete", "forwarddelete"},
    {"Del", "forwarddelete"},
    {"Home", "home"},
    {"End", "end"},
    {"Page_Up", "pageup"},
    {"Prior", "pageup"},
    {"PgUp", "pageup"},
    {"Page_Down", "pagedown"},
    {"Next", "pagedown"},
    {"PgDown", "pagedown"},
    {"Left", "left"},
    {"Right", "right"},
    {"Up", "up"},
    {"Down", "down"},
}};

template <std::size_t N>
std::optional<std::string_view> lookUp(const std::array<Name, N>& table, std::string_view name) {
    for (const auto& [key, value] : table)
        if (key == name) return value;
    return std::nullopt;
}

std::optional<std::int64_t> virtualKey(std::string_view hostName) {
    const auto& codes = KeyChord::keyCodes();
    const auto found = codes.find(std::string(hostName));
    if (found == codes.end()) return std::nullopt;
    return found->second;
}

// F1 to F12: the host's "f1" to "f12".
std::optional<std::int64_t> functionKey(std::string_view name) {
    if (name.size() < 2 || name.size() > 3 || name.front() != 'F') return std::nullopt;
    for (char digit : name.substr(1))
        if (digit < '0' || digit > '9') return std::nullopt;
    return virtualKey("f" + std::string(name.substr(1)));
}

bool isPrintable(char32_t scalar) { return scalar >= 0x20 && scalar != 0x7F && (scalar < 0x80 || scalar > 0x9F); }

// The key part of a binding: a printable character as itself, else one of the names above.
// Bytes that are not UTF-8 name no character, though they read as one replacement character.
std::optional<Equivalent> key(std::string_view name) {
    const std::u32string scalars = unicode::codePoints(name);
    if (scalars.size() == 1 && isPrintable(scalars.front()) && unicode::isValidUtf8(name))
        return Equivalent{std::string(name), std::nullopt, 0};
    if (auto character = lookUp(characterNames, name)) return Equivalent{std::string(*character), std::nullopt, 0};
    if (auto control = lookUp(controlNames, name)) return Equivalent{std::string(*control), std::nullopt, 0};
    if (auto hostName = lookUp(virtualKeyNames, name)) return Equivalent{std::nullopt, virtualKey(*hostName), 0};
    if (auto code = functionKey(name)) return Equivalent{std::nullopt, code, 0};
    return std::nullopt;
}

std::optional<std::int64_t> modifier(std::string_view name) {
    const std::string lowered = unicode::lower(name);
    for (const auto& [known, bit] : modifierBits)
        if (known == lowered) return bit;
    return std::nullopt;
}

std::optional<Equivalent> withModifiers(std::optional<Equivalent> key, const std::vector<std::string_view>& names) {
    if (!key) return std::nullopt;
    key->modifiers = MenuReader::noCommandModifier;
    for (std::string_view name : names) {
        const auto bit = modifier(name);
        if (!bit) return std::nullopt;
        key->modifiers |= *bit;
    }
    return key;
}

// "<Primary><Shift>z": modifiers in angle brackets, then the key's name.
std::optional<Equivalent> gtkAccelerator(std::string_view text) {
    std::vector<std::string_view> names;
    while (!text.empty() && text.front() == '<') {
        const auto close = text.find('>');
        if (close == std::string_view::npos) return std::nullopt;
        names.push_back(text.substr(1, close - 1));
        text.remove_prefix(close + 1);
    }
    return withModifiers(key(text), names);
}

bool isMnemonic(const Equivalent& keys, std::string_view title) {
    if (keys.modifiers != (MenuReader::optionModifier | MenuReader::noCommandModifier) || !keys.character) return false;
    const std::u32string key = unicode::codePoints(unicode::lower(*keys.character));
    if (key.size() != 1 || !unicode::isAlphanumeric(key.front())) return false;
    return unicode::codePoints(unicode::lower(title)).find(key.front()) != std::u32string::npos;
}

// "Ctrl+Shift+S", "Ctrl++": modifiers each followed by "+", then the key, which may be "+".
std::optional<Equivalent> qtSequence(std::string_view text, std::string_view title) {
    if (text.find(", ") != std::string_view::npos) return std::nullopt;  // several chords
    std::vector<std::string_view> names;
    for (auto plus = text.find('+'); plus != std::string_view::npos && plus > 0 && plus + 1 < text.size();
         plus = text.find('+')) {
        names.push_back(text.substr(0, plus));
        text.remove_prefix(plus + 1);
    }
    auto keys = withModifiers(key(text), names);
    if (keys && isMnemonic(*keys, title)) return std::nullopt;
    return keys;
}

}  // namespace

// GTK's three fields hold the accelerator last; a text with fewer is a binding of its own (Qt
// writes "Ctrl+;" as it is, GTK would name that key "semicolon").
std::optional<Equivalent> parse(std::string_view binding, std::string_view title) {
    const auto first = binding.find(';');
    const auto second = first == std::string_view::npos ? first : binding.find(';', first + 1);
    if (second != std::string_view::npos) binding.remove_prefix(second + 1);
    if (binding.empty()) return std::nullopt;
    return binding.front() == '<' ? gtkAccelerator(binding) : qtSequence(binding, title);
}

}  // namespace quib::AtspiKeyBinding
