#include "QuibHost/Server/Neighbours/TmuxLocator.hpp"

#include <unistd.h>

#include <string>

namespace quib {

std::optional<std::filesystem::path> TmuxLocator::executable(std::span<const std::string_view> paths) {
    for (std::string_view candidate : paths) {
        const std::filesystem::path path(candidate);
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error)) continue;
        if (::access(path.c_str(), X_OK) == 0) return path;
    }
    return std::nullopt;
}

}  // namespace quib
