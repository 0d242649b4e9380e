#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace quib {

// The contents of a regular file of at most `maxBytes`, links followed; none when it is missing,
// unreadable, larger, or not a regular file. It never waits: a FIFO, a socket or a device
// (/dev/zero, a terminal) is refused without being read, and a file that grows past the limit
// while being read is refused too.
std::optional<std::string> readRegularFile(const std::filesystem::path& path, std::uintmax_t maxBytes);

}  // namespace quib
