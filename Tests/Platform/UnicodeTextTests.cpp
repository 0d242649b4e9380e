#include <gtest/gtest.h>

#include "Platform/UnicodeText.hpp"

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
    const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // one cluster
    EXPECT_EQ(unicode::graphemeCount(family + "ab"), 3u);
    EXPECT_EQ(unicode::prefixGraphemes(family + "ab", 1), family);
    EXPECT_EQ(unicode::prefixGraphemes("e\xCC\x81x", 1), "e\xCC\x81");
    EXPECT_EQ(unicode::prefixGraphemes("abc", 10), "abc");
    EXPECT_EQ(unicode::graphemeCount(""), 0u);
}

TEST(UnicodeText, IllFormedBytesBecomeReplacementCharacters) {
    EXPECT_EQ(unicode::sanitizeUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(unicode::sanitizeUtf8("h\xC3\xA9"), "h\xC3\xA9");
}

TEST(UnicodeText, NumericCharactersOfEveryScript) {
    for (char32_t c : {U'0', U'9', U'\u0663', U'\u2167', U'\u00BD', U'\uFF15'}) EXPECT_TRUE(unicode::isNumeric(c)) << static_cast<std::uint32_t>(c);
    for (char32_t c : {U'a', U'-', U'.', U'\uFFFD'}) EXPECT_FALSE(unicode::isNumeric(c)) << static_cast<std::uint32_t>(c);
}

TEST(UnicodeText, TellsWellFormedUtf8) {
    EXPECT_TRUE(unicode::isValidUtf8(""));
    EXPECT_TRUE(unicode::isValidUtf8("caf\xC3\xA9 \xF0\x9F\x91\x8D"));
    EXPECT_FALSE(unicode::isValidUtf8("\xFF"));
    EXPECT_FALSE(unicode::isValidUtf8("caf\xC3"));
    EXPECT_FALSE(unicode::isValidUtf8("\xED\xA0\x80"));  // a surrogate
}

TEST(UnicodeText, ComparesIgnoringCaseAndComposition) {
    EXPECT_TRUE(unicode::equalIgnoringCase("Work", "wORK"));
    EXPECT_TRUE(unicode::equalIgnoringCase("\xC3\x89t\xC3\xA9", "e\xCC\x81T\xC3\x89"));  // Été, composed or not
    EXPECT_TRUE(unicode::equalIgnoringCase("Stra\xC3\x9F" "e", "STRASSE"));
    EXPECT_FALSE(unicode::equalIgnoringCase("Work", "Work 2"));
}

// Names sort as people sort them, whatever the letter case, with accents telling names apart.
TEST(UnicodeText, ComparesAsTheLocaleSortsIgnoringCase) {
    EXPECT_LT(unicode::compareLocalizedIgnoringCase("alpha", "Beta"), 0);
    EXPECT_GT(unicode::compareLocalizedIgnoringCase("beta", "Alpha"), 0);
    EXPECT_EQ(unicode::compareLocalizedIgnoringCase("Same", "same"), 0);
    EXPECT_LT(unicode::compareLocalizedIgnoringCase("resume", "r\xC3\xA9sum\xC3\xA9"), 0);  // résumé
    EXPECT_LT(unicode::compareLocalizedIgnoringCase("\xC3\x89" "cole", "ecolf"), 0);           // École
}

