#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "Runtime/Result.hpp"

namespace quib {

// The contents of a regular file of at most `maxBytes`, links followed; none when it is missing,
// unreadable, larger, or not a regular file. It never waits: a FIFO, a socket or a device
// (/dev/zero, a terminal) is refused without being read, and a file that grows past the limit
// while being read is refused too.
std::optional<std::string> readRegularFile(const std::filesystem::path& path, std::uintmax_t maxBytes);

// The same reading, for a file the host keeps itself: none when nothing is at `path`, and an
// error saying why when something is there but cannot be taken (not a regular file, larger
// than `maxBytes`, or unreadable), so that the caller can set it aside.
Result<std::optional<std::string>> readRegularFileIfPresent(const std::filesystem::path& path, std::uintmax_t maxBytes);

}  // namespace quib
