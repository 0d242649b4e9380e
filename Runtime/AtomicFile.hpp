#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "Runtime/Clock.hpp"
#include "Runtime/Result.hpp"

namespace quib {

// Writes `contents` to `path` atomically: a temporary file beside it, fsync, rename, then an
// fsync of the folder. The file gets `mode`; missing parent folders are made with `folderMode`.
Result<void> writeFileAtomically(const std::filesystem::path& path, std::string_view contents, unsigned mode = 0600,
                                 unsigned folderMode = 0700);

// Removes the temporary files that writes of `path` left beside it when the process died
// before renaming them into place.
void removeLeftoverTemporaries(const std::filesystem::path& path);

// Moves an unreadable file out of the way (to "<name>.unreadable-2026-12-10T09-15-04Z", the
// moment `now` in UTC, with "-1", "-2"... added when that name is taken) so that it is never
// overwritten; returns the new path.
Result<std::filesystem::path> setFileAside(const std::filesystem::path& path,
                                           WallTime now = std::chrono::system_clock::now());

}  // namespace quib
