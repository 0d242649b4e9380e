#include <gtest/gtest.h>

#include "Runtime/UnicodeText.hpp"

using namespace quib;

TEST(UnicodeText, ChangesCaseByUnicodeRules) {
    EXPECT_EQ(unicode::upper("abc-ß"), "ABC-SS");
    EXPECT_EQ(unicode::upper("ǆ"), "Ǆ");
    EXPECT_EQ(unicode::lower("COM.Apple-ÄÖ"), "com.apple-äö");
    // The Kelvin sign lower-cases to an ASCII k.
    EXPECT_EQ(unicode::lower("\u212Aitty"), "kitty");
}

TEST(UnicodeText, WhiteSpaceProperty) {
    EXPECT_TRUE(unicode::isWhiteSpace(U' '));
    EXPECT_TRUE(unicode::isWhiteSpace(U'\u3000'));
    EXPECT_TRUE(unicode::isWhiteSpace(U'\u00A0'));
    EXPECT_FALSE(unicode::isWhiteSpace(U'a'));
    EXPECT_FALSE(unicode::isWhiteSpace(U'\u200B'));
}

TEST(UnicodeText, TrimsWhiteSpaceAndLineBreaksAtBothEnds) {
    EXPECT_EQ(unicode::trimWhiteSpace(" \t\r\n build ok\u3000\u2028\n"), "build ok");
    EXPECT_EQ(unicode::trimWhiteSpace("\u00A0\n \u0085"), "");
    EXPECT_EQ(unicode::trimWhiteSpace(""), "");
    EXPECT_EQ(unicode::trimWhiteSpace("a\u200B"), "a\u200B");
    EXPECT_EQ(unicode::trimWhiteSpace("\xFF x "), "\xFF x");  // ill-formed bytes are kept
}

TEST(UnicodeText, WordsAreRunsBetweenAnyWhiteSpace) {
    EXPECT_EQ(unicode::wordCount("  hello world \n"), 2u);
    EXPECT_EQ(unicode::wordCount("one\ttwo\nthree\u2028four\u3000five"), 5u);
    EXPECT_EQ(unicode::wordCount("word"), 1u);
    EXPECT_EQ(unicode::wordCount(" \n\t"), 0u);
    EXPECT_EQ(unicode::wordCount(""), 0u);
    EXPECT_EQ(unicode::wordCount("caf\u00E9-bar,baz \xFF"), 2u);
}

TEST(UnicodeText, GraphemeClustersAreNeverSplit) {
    const std::string family =
        "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // one cluster
    EXPECT_EQ(unicode::graphemeCount(family + "ab"), 3u);
    EXPECT_EQ(unicode::prefixGraphemes(family + "ab", 1), family);
    EXPECT_EQ(unicode::prefixGraphemes("e\xCC\x81x", 1), "e\xCC\x81");
    EXPECT_EQ(unicode::prefixGraphemes("abc", 10), "abc");
    EXPECT_EQ(unicode::graphemeCount(""), 0u);
}

TEST(UnicodeText, IllFormedBytesBecomeReplacementCharacters) {
    EXPECT_EQ(unicode::sanitizeUtf8("a\xFF"
                                    "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(unicode::sanitizeUtf8("h\xC3\xA9"), "h\xC3\xA9");
}

TEST(UnicodeText, NumericCharactersOfEveryScript) {
    for (char32_t c : {U'0', U'9', U'\u0663', U'\u2167', U'\u00BD', U'\uFF15'})
        EXPECT_TRUE(unicode::isNumeric(c)) << static_cast<std::uint32_t>(c);
    for (char32_t c : {U'a', U'-', U'.', U'\uFFFD'})
        EXPECT_FALSE(unicode::isNumeric(c)) << static_cast<std::uint32_t>(c);
}

TEST(UnicodeText, TellsWellFormedUtf8) {
    EXPECT_TRUE(unicode::isValidUtf8(""));
    EXPECT_TRUE(unicode::isValidUtf8("caf\xC3\xA9 \xF0\x9F\x91\x8D"));
    EXPECT_FALSE(unicode::isValidUtf8("\xFF"));
    EXPECT_FALSE(unicode::isValidUtf8("caf\xC3"));
    EXPECT_FALSE(unicode::isValidUtf8("\xED\xA0\x80"));  // a surrogate
}

TEST(UnicodeText, BytePrefixNeverSplitsACharacter) {
    EXPECT_EQ(unicode::prefixBytes("abc", 5), "abc");
    EXPECT_EQ(unicode::prefixBytes("ab\xC3\xA9", 3), "ab");  // é takes two bytes
    EXPECT_EQ(unicode::prefixBytes("ab\xC3\xA9", 4), "ab\xC3\xA9");
    EXPECT_EQ(unicode::prefixBytes("\xF0\x9F\x98\x80!", 3), "");
}

// The caseless key agrees with the comparison, so a set of keys finds what a scan would.
TEST(UnicodeText, ComparesIgnoringCaseAndComposition) {
    const auto same = [](std::string_view a, std::string_view b) {
        const bool equal = unicode::equalIgnoringCase(a, b);
        EXPECT_EQ(equal, unicode::caselessKey(a) == unicode::caselessKey(b)) << a << " / " << b;
        return equal;
    };
    EXPECT_TRUE(same("Work", "wORK"));
    EXPECT_TRUE(same("\xC3\x89t\xC3\xA9", "e\xCC\x81T\xC3\x89"));  // Été, composed or not
    EXPECT_TRUE(
        same("Stra\xC3\x9F"
             "e",
             "STRASSE"));
    EXPECT_TRUE(same("\xE2\x84\xAA", "k"));  // the Kelvin sign
    EXPECT_FALSE(same("Work", "Work 2"));
    EXPECT_FALSE(same("\xC3\x89t\xC3\xA9", "Ete"));
}

// Names sort as people sort them, whatever the letter case, with accents telling names apart.
TEST(UnicodeText, ComparesAsTheLocaleSortsIgnoringCase) {
    EXPECT_LT(unicode::compareLocalizedIgnoringCase("alpha", "Beta"), 0);
    EXPECT_GT(unicode::compareLocalizedIgnoringCase("beta", "Alpha"), 0);
    EXPECT_EQ(unicode::compareLocalizedIgnoringCase("Same", "same"), 0);
    EXPECT_LT(unicode::compareLocalizedIgnoringCase("resume", "r\xC3\xA9sum\xC3\xA9"), 0);  // résumé
    EXPECT_LT(unicode::compareLocalizedIgnoringCase("\xC3\x89"
                                                    "cole",
                                                    "ecolf"),
              0);  // École
}

TEST(UnicodeText, CharacterClassesOfOneCodePoint) {
    for (char32_t c : {U'a', U'\u00EF', U'\u00C9', U'\u0416', U'\u4E2D'})
        EXPECT_TRUE(unicode::isLetter(c)) << static_cast<std::uint32_t>(c);
    for (char32_t c : {U'1', U'_', U'-', U'\u0301'})
        EXPECT_FALSE(unicode::isLetter(c)) << static_cast<std::uint32_t>(c);
    EXPECT_TRUE(unicode::isUppercase(U'\u00C9'));
    EXPECT_FALSE(unicode::isUppercase(U'\u00E9'));
    EXPECT_TRUE(unicode::isLowercase(U'\u00E9'));
    EXPECT_FALSE(unicode::isLowercase(U'1'));
    for (char32_t c : {U'0', U'f', U'F', U'\uFF10', U'\uFF26', U'\uFF46'})
        EXPECT_TRUE(unicode::isHexDigit(c)) << static_cast<std::uint32_t>(c);
    for (char32_t c : {U'g', U'\u0663', U'\uFF27'})
        EXPECT_FALSE(unicode::isHexDigit(c)) << static_cast<std::uint32_t>(c);
    EXPECT_EQ(unicode::firstCodePoint("\xC3\xA9t\xC3\xA9"), U'\u00E9');
    EXPECT_EQ(unicode::firstCodePoint(""), U'\0');
}

TEST(UnicodeText, ComposedFormsMakeEquivalentTextsTheSameBytes) {
    EXPECT_EQ(unicode::composed("Cafe\xCC\x81"), "Caf\xC3\xA9");
    EXPECT_EQ(unicode::composed("Caf\xC3\xA9"), "Caf\xC3\xA9");
    EXPECT_EQ(unicode::composed("plain"), "plain");
    EXPECT_LT(unicode::composed("Zeta"), unicode::composed("alpha"));  // code point order
}

TEST(UnicodeText, VisitsEachGraphemeClusterAsAViewIntoTheText) {
    const auto clusters = [](std::string_view text) {
        std::vector<std::string> out;
        unicode::forEachGrapheme(text, [&](std::string_view cluster) { out.emplace_back(cluster); });
        return out;
    };
    EXPECT_EQ(clusters("a\r\nb"), (std::vector<std::string>{"a", "\r\n", "b"}));
    EXPECT_EQ(clusters("e\xCC\x81x"), (std::vector<std::string>{"e\xCC\x81", "x"}));
    EXPECT_TRUE(clusters("").empty());
    // A walk inside another's visit does not disturb it.
    std::vector<std::size_t> inner;
    const auto outer = [&] {
        std::vector<std::string> out;
        unicode::forEachGrapheme("\xC3\xA9\xC3\xA9", [&](std::string_view cluster) {
            out.emplace_back(cluster);
            inner.push_back(clusters("o\xCC\x88o\xCC\x88o").size());
        });
        return out;
    }();
    EXPECT_EQ(outer, (std::vector<std::string>{"\xC3\xA9", "\xC3\xA9"}));
    EXPECT_EQ(inner, (std::vector<std::size_t>{3, 3}));
}
