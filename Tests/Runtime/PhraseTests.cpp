#include "Runtime/Phrase.hpp"

#include <gtest/gtest.h>

#include "Runtime/HostWords.hpp"

namespace quib {
namespace {

constexpr Phrase name{"Quib"};
constexpr auto greeting = phrase<"hello, ", name, "!">;

// Joined phrases are constants with the parts one after another, whatever their lengths.
static_assert(said<"a", "", "bc"> == "abc");
static_assert(said<> == "");
static_assert(greeting.view() == "hello, Quib!");
static_assert(said<greeting, " \u2014 bye"> == "hello, Quib! \u2014 bye");
static_assert(capitalised<greeting>.view() == "Hello, Quib!");
static_assert(capitalised<Phrase{"\u00e9t\u00e9"}>.view() == "\u00e9t\u00e9");

TEST(Phrase, JoinsIntoTextThatOutlivesTheExpression) {
    std::string_view text = said<"On ", HostWords::yourComputer, ", open ", HostWords::panel>;
    EXPECT_EQ(text, "On your computer, open the Quib panel");
    EXPECT_EQ(text.data(), (said<"On ", HostWords::yourComputer, ", open ", HostWords::panel>.data()));
    EXPECT_EQ(greeting.str(), "hello, Quib!");
}

}  // namespace
}  // namespace quib
