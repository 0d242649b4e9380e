#include <gtest/gtest.h>

#include "Shared/PairingCode.hpp"

using quib::PairingCode;
using Problem = PairingCode::Problem;

TEST(PairingCode, NormalizeUpperCasesAndDropsSeparatorsAndUnicodeWhiteSpace) {
    EXPECT_EQ(PairingCode::normalize("abc-def"), "ABCDEF");
    EXPECT_EQ(PairingCode::normalize(" a_b\tc\r\nd\u2003e\u00a0f "), "ABCDEF");
    // Unicode upper-casing, not ASCII only; other characters stay in order.
    EXPECT_EQ(PairingCode::normalize("stra\u00dfe.1"), "STRASSE.1");
}

TEST(PairingCode, LooseTypingOfAGoodCodeIsValid) {
    EXPECT_EQ(PairingCode::validate("k7p-q2m"), std::nullopt);
    EXPECT_TRUE(PairingCode::isValid(" K7P Q2M\n"));
    EXPECT_TRUE(PairingCode::isValid("ABCDEF"));
}

TEST(PairingCode, NothingButSeparatorsIsEmpty) {
    EXPECT_EQ(PairingCode::validate(""), Problem::empty());
    EXPECT_EQ(PairingCode::validate(" -_ \n_-"), Problem::empty());
    EXPECT_EQ(Problem::empty().message(), "Enter the six-character code shown on your computer");
}

TEST(PairingCode, WrongLengthCountsCharacters) {
    EXPECT_EQ(PairingCode::validate("K7PQ2"), Problem::wrongLength(5));
    EXPECT_EQ(PairingCode::validate("K7PQ2MA"), Problem::wrongLength(7));
    EXPECT_EQ(Problem::wrongLength(5).message(), "Pairing codes are 6 characters \u2014 this one has 5");
}

TEST(PairingCode, IllegalCharactersAreDistinctSortedAndWinOverLength) {
    const auto problem = PairingCode::validate("OOO111");
    EXPECT_EQ(problem, Problem::illegalCharacters("1, O"));
    EXPECT_EQ(problem->message(), "1, O can't appear in a pairing code (there is no O, 0, I or 1)");
    // Four characters and a bad one: the character is reported, not the length.
    EXPECT_EQ(PairingCode::validate("ab0d"), Problem::illegalCharacters("0"));
    EXPECT_EQ(PairingCode::validate("i-o.0"), Problem::illegalCharacters("., 0, I, O"));
}

TEST(PairingCode, AccentedLettersAreReportedUpperCasedAsOneCharacter) {
    EXPECT_EQ(PairingCode::validate("abcde\u00e9"), Problem::illegalCharacters("\u00c9"));
    // A decomposed letter is one character, reported whole rather than as a stray accent.
    EXPECT_EQ(PairingCode::validate("abcde\u0301"), Problem::illegalCharacters("E\u0301"));
}
