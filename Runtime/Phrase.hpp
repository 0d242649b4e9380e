#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quib {

// A piece of text fixed at compile time, so that sentences can be joined from named words and
// still be constants: `said<"Open ", HostWords::panel>` is a `std::string_view` into static storage.
// `N` counts the terminating NUL, as a string literal's type does.
template <std::size_t N>
struct Phrase {
    char chars[N]{};

    constexpr Phrase() = default;
    constexpr Phrase(const char (&text)[N]) { std::char_traits<char>::copy(chars, text, N); }

    constexpr std::string_view view() const { return {chars, N - 1}; }
    constexpr operator std::string_view() const { return view(); }
    std::string str() const { return std::string(view()); }
};

template <Phrase... Parts>
constexpr auto joinPhrases() {
    Phrase<(0 + ... + Parts.view().size()) + 1> joined;
    [[maybe_unused]] std::size_t at = 0;  // unused when there are no parts
    ((std::char_traits<char>::copy(joined.chars + at, Parts.chars, Parts.view().size()), at += Parts.view().size()),
     ...);
    return joined;
}

// The phrase of the parts one after another.
template <Phrase... Parts>
inline constexpr auto phrase = joinPhrases<Parts...>();

// The same, as text.
template <Phrase... Parts>
inline constexpr std::string_view said = phrase<Parts...>.view();

// `part` with its first letter in capitals, for a word that starts a sentence.
template <Phrase Part>
inline constexpr auto capitalised = [] {
    auto upper = Part;
    if (upper.chars[0] >= 'a' && upper.chars[0] <= 'z') upper.chars[0] = static_cast<char>(upper.chars[0] - 'a' + 'A');
    return upper;
}();

}  // namespace quib
