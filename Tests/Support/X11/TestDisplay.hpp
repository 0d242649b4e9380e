#pragma once

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace quib::testing {

// The shared display scripts/test starts for the tests (Xvfb with a window manager); empty when
// the tests run without it.
inline std::string testDisplayName() {
    const char* name = std::getenv("QUIB_TEST_DISPLAY");
    return name ? name : "";
}

}  // namespace quib::testing

// Skips a test that needs the shared display when there is none (a run by hand); scripts/test
// always provides it.
#define QUIB_REQUIRE_TEST_DISPLAY()                                                               \
    do {                                                                                          \
        if (::quib::testing::testDisplayName().empty()) {                                         \
            GTEST_SKIP() << "needs the test display: QUIB_TEST_DISPLAY is not set (scripts/test " \
                            "sets it)";                                                           \
        }                                                                                         \
    } while (false)
