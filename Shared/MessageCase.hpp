#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace quib {

// A message case's wire key, as a template argument.
template <std::size_t N>
struct CaseName {
    char text[N]{};
    constexpr CaseName(const char (&name)[N]) { std::copy_n(name, N, text); }
    constexpr std::string_view view() const { return {text, N - 1}; }
};

// The shapes most message cases take (MessageCaseCoding codes them without a row of their own):
// one unlabelled payload value, "_0", or none at all.
//
//     using Text = SingleValueCase<"text", TextPayload>;
template <CaseName Name, class Payload>
struct SingleValueCase {
    static constexpr std::string_view name = Name.view();
    Payload _0{};
};

template <CaseName Name>
struct EmptyCase {
    static constexpr std::string_view name = Name.view();
};

}  // namespace quib
