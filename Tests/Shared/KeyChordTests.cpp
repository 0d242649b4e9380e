#include <gtest/gtest.h>

#include <set>

#include "Shared/AttachmentFrame.hpp"
#include "Shared/KeyChord.hpp"
#include "Shared/QuibCoder.hpp"

using namespace quib;

namespace {

KeyChord chord(std::string key, std::string_view modifiers = "", std::int64_t repeat = 1) {
    const auto has = [modifiers](char c) { return modifiers.find(c) != std::string_view::npos; };
    return KeyChord(std::move(key), has('c'), has('o'), has('s'), has('m'), repeat);
}

}  // namespace

TEST(KeyChord, EveryNameHasItsOwnCodeAndComesBackFromIt) {
    const auto& codes = KeyChord::keyCodes();
    EXPECT_EQ(codes.size(), 73u);
    std::set<std::uint16_t> distinct;
    for (const auto& [name, code] : codes) {
        distinct.insert(code);
        EXPECT_EQ(KeyChord::keyForVirtualKey(code), name);
    }
    EXPECT_EQ(distinct.size(), 73u);
    EXPECT_EQ(codes.at("a"), 0);
    EXPECT_EQ(codes.at("escape"), 53);
    EXPECT_EQ(codes.at("forwarddelete"), 117);
    EXPECT_EQ(codes.at("\\"), 42);
    EXPECT_EQ(codes.at("`"), 50);
    EXPECT_EQ(codes.at("f3"), 99);
    EXPECT_EQ(codes.at("f12"), 111);

    EXPECT_EQ(KeyChord::keyForVirtualKey(24), "=");
    EXPECT_EQ(KeyChord::keyForVirtualKey(36), "enter");
    EXPECT_EQ(KeyChord::keyForVirtualKey(52), std::nullopt);
}

TEST(KeyChord, VirtualKeyIsLookedUpExactlyAsSpelled) {
    EXPECT_EQ(chord("f1").macVirtualKey(), 122);
    EXPECT_EQ(chord("v", "m").macVirtualKey(), 9);
    EXPECT_EQ(chord("F1").macVirtualKey(), std::nullopt);
    EXPECT_EQ(chord("plus").macVirtualKey(), std::nullopt);
    EXPECT_EQ(chord("").macVirtualKey(), std::nullopt);
}

TEST(KeyChord, TmuxNames) {
    const std::vector<std::pair<KeyChord, std::optional<std::string>>> cases{
        {chord("c", "c"), "C-c"},        {chord("a", "s"), "A"},
        {chord("1", "s"), "1"},          {chord("a", "cs"), "C-A"},
        {chord("tab", "s"), "BTab"},     {chord("tab", "cs"), "C-S-Tab"},
        {chord("tab", "os"), "M-S-Tab"}, {chord("left", "o"), "M-Left"},
        {chord("up", "s"), "S-Up"},      {chord("enter"), "Enter"},
        {chord("delete"), "BSpace"},     {chord("pagedown", "co"), "C-M-NPage"},
        {chord("f12", "s"), "S-F12"},    {chord("\u00e9", "s"), "\u00c9"},
        {chord("c", "m"), std::nullopt}, {chord("enter", "m"), std::nullopt},
        {chord("/", "c"), std::nullopt}, {chord("F1"), std::nullopt},
        {chord("f13"), std::nullopt},    {chord("f0"), std::nullopt},
        {chord("plus"), std::nullopt},   {chord(""), std::nullopt},
    };
    for (const auto& [keyChord, expected] : cases) {
        EXPECT_EQ(keyChord.tmuxName(), expected) << keyChord.key << " " << keyChord.display();
    }
}

TEST(KeyChord, GlyphForm) {
    EXPECT_EQ(chord("c", "m").display(), "\u2318C");
    EXPECT_EQ(chord("tab", "cs").display(), "\u2303\u21E7\u21E5");
    EXPECT_EQ(chord("escape", "", 2).display(), "esc \u00D72");
    EXPECT_EQ(chord("escape", "", 3).display(), "esc \u00D73");
    EXPECT_EQ(chord("up", "mocs").display(), "\u2303\u2325\u21E7\u2318\u2191");
    EXPECT_EQ(chord("space").display(), "space");
    EXPECT_EQ(chord(",").display(), ",");
    EXPECT_EQ(chord("f10").display(), "F10");
    EXPECT_EQ(chord("plus").display(), "PLUS");
}

// A repeated chord reads "twice" whatever its count; only the glyph form tells the count.
TEST(KeyChord, SpokenForm) {
    EXPECT_EQ(chord("c", "c").spoken(), "Control C");
    EXPECT_EQ(chord("tab", "s").spoken(), "Shift Tab");
    EXPECT_EQ(chord("k", "mocs").spoken(), "Control Option Shift Command K");
    EXPECT_EQ(chord("escape", "", 2).spoken(), "Escape, twice");
    EXPECT_EQ(chord("escape", "", 3).spoken(), "Escape, twice");
    EXPECT_EQ(chord("escape", "", 3).display(), "esc \u00D73");
    EXPECT_EQ(chord("a", "", 4).spoken(), "A, twice");
    EXPECT_EQ(chord("up").spoken(), "UP");
    EXPECT_EQ(chord("forwarddelete").spoken(), "Forward delete");
    EXPECT_EQ(chord("[").spoken(), "Left bracket");
    EXPECT_EQ(chord("f1").spoken(), "F1");
    EXPECT_EQ(chord("plus").spoken(), "PLUS");
}

TEST(AttachmentFrame, FormatsNameTheirTypeAndExtension) {
    using Format = AttachmentFrame::Format;
    EXPECT_EQ(allCases<Format>(), (std::array<Format, 2>{Format::png, Format::jpeg}));
    EXPECT_EQ(enumName(Format::jpeg), "jpeg");
    EXPECT_EQ(AttachmentFrame::typeIdentifier(Format::png), "public.png");
    EXPECT_EQ(AttachmentFrame::typeIdentifier(Format::jpeg), "public.jpeg");
    EXPECT_EQ(AttachmentFrame::fileExtension(Format::png), "png");
    EXPECT_EQ(AttachmentFrame::fileExtension(Format::jpeg), "jpg");
    EXPECT_EQ(QuibCoder::decode<Format>("\"png\"").valueOr(Format::jpeg), Format::png);
    for (const char* other : {"\"jpg\"", "\"JPEG\"", "\"gif\"", "1"}) {
        EXPECT_FALSE(QuibCoder::decode<Format>(other).ok()) << other;
    }
}
