#pragma once

#include <cstdint>

namespace quib {

// Where a call was written: its file, line and function, taken at the call as a default argument
// (`SourceLocation::current()`). The compilers' own builtins serve where the standard library's
// `std::source_location` needs one that not every supported compiler has.
struct SourceLocation {
    const char* file = "";
    std::uint_least32_t number = 0;
    const char* function = "";

    static constexpr SourceLocation current(const char* file = __builtin_FILE(), int line = __builtin_LINE(),
                                            const char* function = __builtin_FUNCTION()) {
        return {file, static_cast<std::uint_least32_t>(line), function};
    }
    constexpr const char* file_name() const { return file; }
    constexpr std::uint_least32_t line() const { return number; }
    constexpr const char* function_name() const { return function; }
};

}  // namespace quib
