#pragma once

#include <filesystem>

#include "Tests/Support/ScratchFolder.hpp"

namespace quib::testing {

// Where a test's login item keeps the host's autostart entry: in an autostart folder of the
// test's own, never the desktop's.
inline std::filesystem::path autostartEntry(const ScratchFolder& scratch) {
    return scratch.path / "autostart" / "quib-host.desktop";
}

}  // namespace quib::testing
