#include "Platform/Linux/Atspi/AtspiKeyBinding.hpp"

#include <gtest/gtest.h>

namespace quib {
namespace {

using Equivalent = AtspiKeyBinding::Equivalent;

constexpr std::int64_t none = 8;  // no Command key: set in every chord
constexpr std::int64_t shift = 1, alt = 2, control = 4;

Equivalent character(std::string text, std::int64_t modifiers) {
    return {std::move(text), std::nullopt, modifiers | none};
}
Equivalent virtualKey(std::int64_t code, std::int64_t modifiers) { return {std::nullopt, code, modifiers | none}; }

struct Row {
    const char* binding;
    std::optional<Equivalent> expected;
};

void expectTable(const std::vector<Row>& rows) {
    for (const auto& [binding, expected] : rows) EXPECT_EQ(AtspiKeyBinding::parse(binding), expected) << binding;
}

TEST(AtspiKeyBinding, ReadsTheAcceleratorFieldOfGtkBindings) {
    expectTable({
        {";;<Primary>s", character("s", control)},
        {";;<Primary><Shift>z", character("z", control | shift)},
        {";;F5", virtualKey(96, 0)},
        {";;<Primary>grave", character("`", control)},
        {"<Alt>f;<Actions>/app/save;<Control><Alt>Delete", virtualKey(117, control | alt)},
        {"<Primary>semicolon", character(";", control)},
        {"<Mod1>plus", character("+", alt)},
        {"<Ctrl>space", character(" ", control)},
        // A mnemonic alone, or an empty accelerator, is no chord.
        {"<Alt>f;;", std::nullopt},
        {";;", std::nullopt},
        {"", std::nullopt},
        {";;<Primary", std::nullopt},
    });
}

TEST(AtspiKeyBinding, ReadsQtKeySequences) {
    expectTable({
        {"Ctrl+S", character("S", control)},
        {"Ctrl+Shift+S", character("S", control | shift)},
        {"Ctrl+Shift+Z", character("Z", control | shift)},
        {"Alt+F5", virtualKey(96, alt)},
        {"Ctrl++", character("+", control)},  // a key name the host has no key for
        {"Ctrl+;", character(";", control)},
        {"F5", virtualKey(96, 0)},
        {"Ctrl+K, Ctrl+S", std::nullopt},  // several chords in a row
        {"Ctrl+", std::nullopt},
        {"Ctrl+\xC3\xA9", character("\xC3\xA9", control)},
        // A byte that is no character, or a character cut short, is no key.
        {"Ctrl+\xFF", std::nullopt},
        {"\xE2\x82", std::nullopt},
        {";;<Primary>\xC3", std::nullopt},
    });
}

// Qt publishes an item's underlined letter with Alt when it has no shortcut: no key of the item's.
TEST(AtspiKeyBinding, TakesAltWithALetterOfTheTitleForAQtMnemonic) {
    EXPECT_EQ(AtspiKeyBinding::parse("Alt+C", "Close Tab"), std::nullopt);
    EXPECT_EQ(AtspiKeyBinding::parse("Alt+2", "Split 2 Ways"), std::nullopt);
    EXPECT_EQ(AtspiKeyBinding::parse("Alt+C", "Open"), character("C", alt));
    EXPECT_EQ(AtspiKeyBinding::parse("Alt+Shift+C", "Close Tab"), character("C", alt | shift));
    EXPECT_EQ(AtspiKeyBinding::parse("Ctrl+C", "Copy"), character("C", control));
    EXPECT_EQ(AtspiKeyBinding::parse("Alt+F5", "F5 Reload"), virtualKey(96, alt));
    EXPECT_EQ(AtspiKeyBinding::parse(";;<Alt>c", "Close Tab"), character("c", alt));  // GTK's are real
}

TEST(AtspiKeyBinding, GivesNoChordForKeysTheHostNeverPresses) {
    expectTable({
        {"Meta+K", std::nullopt},
        {"<Super>k", std::nullopt},
        {"<Hyper>k", std::nullopt},
        {"<Mod4>k", std::nullopt},
        {"Num+5", std::nullopt},
        {"Ctrl+Insert", std::nullopt},
        {"F13", std::nullopt},
        {"<Primary>\x01", std::nullopt},
    });
}

TEST(AtspiKeyBinding, NamedKeysBecomeControlCharactersOrVirtualKeys) {
    for (const char* name : {"Return", "KP_Enter", "Enter"})
        EXPECT_EQ(AtspiKeyBinding::parse(name), character("\r", 0)) << name;
    for (const char* name : {"BackSpace", "Backspace"})
        EXPECT_EQ(AtspiKeyBinding::parse(name), character("\b", 0)) << name;
    for (const char* name : {"Tab", "ISO_Left_Tab", "Backtab"})
        EXPECT_EQ(AtspiKeyBinding::parse(name), character("\t", 0)) << name;
    for (const char* name : {"Escape", "Esc"}) EXPECT_EQ(AtspiKeyBinding::parse(name), character("\x1b", 0)) << name;
    expectTable({
        {"Delete", virtualKey(117, 0)},
        {"Del", virtualKey(117, 0)},
        {"F1", virtualKey(122, 0)},
        {"F2", virtualKey(120, 0)},
        {"F3", virtualKey(99, 0)},
        {"F12", virtualKey(111, 0)},
        {"Home", virtualKey(115, 0)},
        {"End", virtualKey(119, 0)},
        {"Page_Up", virtualKey(116, 0)},
        {"Prior", virtualKey(116, 0)},
        {"PgUp", virtualKey(116, 0)},
        {"Page_Down", virtualKey(121, 0)},
        {"Next", virtualKey(121, 0)},
        {"PgDown", virtualKey(121, 0)},
        {"Left", virtualKey(123, 0)},
        {"Right", virtualKey(124, 0)},
        {"Down", virtualKey(125, 0)},
        {"Up", virtualKey(126, 0)},
    });
    expectTable({
        {"minus", character("-", 0)},
        {"equal", character("=", 0)},
        {"comma", character(",", 0)},
        {"period", character(".", 0)},
        {"slash", character("/", 0)},
        {"apostrophe", character("'", 0)},
        {"bracketleft", character("[", 0)},
        {"bracketright", character("]", 0)},
        {"backslash", character("\\", 0)},
        {"\u00e9", character("\u00e9", 0)},
    });
}

}  // namespace
}  // namespace quib
