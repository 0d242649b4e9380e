#pragma once

#include <cstdlib>
#include <string>

namespace quib::bench {

// The X display the benchmarks draw on: the test display when one is set, else the session's.
inline std::string displayName() {
    for (const char* name : {"QUIB_TEST_DISPLAY", "DISPLAY"}) {
        if (const char* value = std::getenv(name); value && *value) return value;
    }
    return {};
}

}  // namespace quib::bench
