#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace quib {

// The local path a "file:" URL names: its path, percent-decoded, when the scheme is "file" (in
// any letter case), the host is empty or "localhost", and the path is absolute, UTF-8 and free
// of NUL; a query or fragment is ignored. Any other URL names no local path.
std::optional<std::filesystem::path> pathOfFileURL(std::string_view url);

}  // namespace quib
