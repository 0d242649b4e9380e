#pragma once

#include <string>
#include <string_view>

namespace quib::ascii {

// Letter case of the ASCII letters only; every other byte is left as it is. For identifiers
// (desktop-file IDs, window classes), which are compared this way whatever the locale.

constexpr char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowered(std::string_view text);

bool equalIgnoringCase(std::string_view a, std::string_view b);

}  // namespace quib::ascii
