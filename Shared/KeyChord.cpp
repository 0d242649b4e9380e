#include "Shared/KeyChord.hpp"

#include <algorithm>
#include <array>
#include <functional>
#include <string_view>
#include <utility>

#include "Runtime/UnicodeText.hpp"

namespace quib {
namespace {

// A key with a name of its own, its glyph, the word that reads it out (empty: the name
// upper-cased) and tmux's name for it.
struct NamedKey {
    std::string_view name;
    std::uint16_t code;
    std::string_view glyph;
    std::string_view spoken;
    std::string_view tmux;
};

constexpr std::array<NamedKey, 14> namedKeys{{
    {"escape", 53, "esc", "Escape", "Escape"},
    {"enter", 36, "\u21B5", "Return", "Enter"},
    {"tab", 48, "\u21E5", "Tab", "Tab"},
    {"space", 49, "space", "Space", "Space"},
    {"delete", 51, "\u232B", "Delete", "BSpace"},
    {"forwarddelete", 117, "\u2326", "Forward delete", "DC"},
    {"home", 115, "\u2196", "Home", "Home"},
    {"end", 119, "\u2198", "End", "End"},
    {"pageup", 116, "\u21DE", "Page up", "PPage"},
    {"pagedown", 121, "\u21DF", "Page down", "NPage"},
    {"left", 123, "\u2190", "", "Left"},
    {"right", 124, "\u2192", "", "Right"},
    {"down", 125, "\u2193", "", "Down"},
    {"up", 126, "\u2191", "", "Up"},
}};

// Punctuation shows as itself and has no tmux name.
struct PunctuationKey {
    std::string_view name;
    std::uint16_t code;
    std::string_view spoken;
};

constexpr std::array<PunctuationKey, 11> punctuationKeys{{
    {",", 43, "Comma"},
    {".", 47, "Period"},
    {"/", 44, "Slash"},
    {";", 41, "Semicolon"},
    {"'", 39, "Quote"},
    {"[", 33, "Left bracket"},
    {"]", 30, "Right bracket"},
    {"\\", 42, "Backslash"},
    {"-", 27, "Minus"},
    {"=", 24, "Equals"},
    {"`", 50, "Backtick"},
}};

// Letters, digits and function keys: shown and read out as the name upper-cased.
constexpr std::array<std::pair<std::string_view, std::uint16_t>, 48> plainKeys{{
    {"a", 0},   {"b", 11},  {"c", 8},   {"d", 2},    {"e", 14},   {"f", 3},     {"g", 5},     {"h", 4},
    {"i", 34},  {"j", 38},  {"k", 40},  {"l", 37},   {"m", 46},   {"n", 45},    {"o", 31},    {"p", 35},
    {"q", 12},  {"r", 15},  {"s", 1},   {"t", 17},   {"u", 32},   {"v", 9},     {"w", 13},    {"x", 7},
    {"y", 16},  {"z", 6},   {"0", 29},  {"1", 18},   {"2", 19},   {"3", 20},    {"4", 21},    {"5", 23},
    {"6", 22},  {"7", 26},  {"8", 28},  {"9", 25},   {"f1", 122}, {"f2", 120},  {"f3", 99},   {"f4", 118},
    {"f5", 96}, {"f6", 97}, {"f7", 98}, {"f8", 100}, {"f9", 101}, {"f10", 109}, {"f11", 103}, {"f12", 111},
}};

const NamedKey* namedKey(std::string_view name) {
    const auto found =
        std::find_if(namedKeys.begin(), namedKeys.end(), [name](const auto& key) { return key.name == name; });
    return found == namedKeys.end() ? nullptr : &*found;
}

const PunctuationKey* punctuationKey(std::string_view name) {
    const auto found = std::find_if(punctuationKeys.begin(), punctuationKeys.end(),
                                    [name](const auto& key) { return key.name == name; });
    return found == punctuationKeys.end() ? nullptr : &*found;
}

const std::unordered_map<std::uint16_t, std::string>& keysByCode() {
    static const auto table = [] {
        std::unordered_map<std::uint16_t, std::string> byCode;
        for (const auto& [name, code] : KeyChord::keyCodes()) byCode.emplace(code, name);
        return byCode;
    }();
    return table;
}

// A whole number as a plain decimal parse reads it: an optional sign, then one or more digits,
// nothing else. Values above 12 all come back as 13, which is as useless to the caller.
std::optional<long> decimalUpTo13(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = std::min(value * 10 + (c - '0'), 13L);
    }
    return negative ? -value : value;
}

// tmux's name for a key alone: a named key's, "F1" to "F12", or a single letter or digit
// (of any script) as it is.
std::optional<std::string> tmuxBase(const std::string& name) {
    if (const NamedKey* key = namedKey(name)) return std::string(key->tmux);
    if (const auto number = KeyChord::functionKeyNumber(name)) return "F" + std::to_string(*number);
    if (unicode::graphemeCount(name) == 1 && unicode::isAlphanumeric(unicode::codePoints(name).front())) return name;
    return std::nullopt;
}

}  // namespace

KeyChord::KeyChord(std::string key, bool control, bool option, bool shift, bool command, std::int64_t repeatCount)
    : key(std::move(key)),
      control(control),
      option(option),
      shift(shift),
      command(command),
      repeatCount(clampedRepeatCount(repeatCount)) {}

std::int64_t KeyChord::clampedRepeatCount(std::int64_t count) {
    return std::clamp(count, minRepeatCount, maxRepeatCount);
}

const std::unordered_map<std::string, std::uint16_t>& KeyChord::keyCodes() {
    static const auto table = [] {
        std::unordered_map<std::string, std::uint16_t> codes;
        for (const auto& key : namedKeys) codes.emplace(key.name, key.code);
        for (const auto& key : punctuationKeys) codes.emplace(key.name, key.code);
        for (const auto& [name, code] : plainKeys) codes.emplace(name, code);
        return codes;
    }();
    return table;
}

std::optional<int> KeyChord::functionKeyNumber(std::string_view name) {
    if (name.size() < 2 || name.front() != 'f') return std::nullopt;
    const auto number = decimalUpTo13(name.substr(1));
    if (!number || *number < 1 || *number > 12) return std::nullopt;
    return static_cast<int>(*number);
}

std::optional<std::string> KeyChord::keyForVirtualKey(std::uint16_t code) {
    const auto& table = keysByCode();
    const auto found = table.find(code);
    if (found == table.end()) return std::nullopt;
    return found->second;
}

std::optional<std::uint16_t> KeyChord::macVirtualKey() const {
    const auto& table = keyCodes();
    const auto found = table.find(key);
    if (found == table.end()) return std::nullopt;
    return found->second;
}

std::optional<std::string> KeyChord::tmuxName() const {
    if (command) return std::nullopt;
    if (key == "tab" && shift && !control && !option) return "BTab";
    auto base = tmuxBase(key);
    if (!base) return std::nullopt;
    std::string prefix;
    if (control) prefix += "C-";
    if (option) prefix += "M-";
    if (shift) {
        if (unicode::graphemeCount(*base) >= 2) prefix += "S-";
        else base = unicode::upper(*base);
    }
    return prefix + *base;
}

std::string KeyChord::display() const {
    std::string text;
    if (control) text += "\u2303";
    if (option) text += "\u2325";
    if (shift) text += "\u21E7";
    if (command) text += "\u2318";
    const NamedKey* named = namedKey(key);
    text += named ? std::string(named->glyph) : unicode::upper(key);
    if (repeatCount >= 2) text += " \u00D7" + std::to_string(repeatCount);
    return text;
}

std::string KeyChord::spoken() const {
    std::string text;
    const auto word = [&text](std::string_view next) {
        if (!text.empty()) text += ' ';
        text += next;
    };
    if (control) word("Control");
    if (option) word("Option");
    if (shift) word("Shift");
    if (command) word("Command");
    const NamedKey* named = namedKey(key);
    const PunctuationKey* punctuation = punctuationKey(key);
    if (named && !named->spoken.empty()) word(named->spoken);
    else if (punctuation) word(punctuation->spoken);
    else word(unicode::upper(key));
    // Any repeat reads "twice", as phones, which share this code, read it too.
    if (repeatCount >= 2) text += ", twice";
    return text;
}

KeyChord KeyChord::fromJson(const Json& json) {
    const JsonReader r(json);
    // Read in field order so the first mistyped key is the one reported.
    auto key = r.value<std::string>("key", "escape");
    const bool control = r.value("control", false);
    const bool option = r.value("option", false);
    const bool shift = r.value("shift", false);
    const bool command = r.value("command", false);
    const auto repeatCount = r.value<std::int64_t>("repeatCount", 1);
    return KeyChord(std::move(key), control, option, shift, command, repeatCount);
}

Json KeyChord::toJson() const {
    return JsonWriter()
        .put("key", key)
        .put("control", control)
        .put("option", option)
        .put("shift", shift)
        .put("command", command)
        .put("repeatCount", repeatCount)
        .take();
}

}  // namespace quib

std::size_t std::hash<quib::KeyChord>::operator()(const quib::KeyChord& chord) const noexcept {
    std::size_t seed = std::hash<std::string>{}(chord.key);
    const auto mix = [&seed](std::size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); };
    mix(chord.control);
    mix(chord.option);
    mix(chord.shift);
    mix(chord.command);
    mix(std::hash<std::int64_t>{}(chord.repeatCount));
    return seed;
}
