#include "Runtime/XdgFolders.hpp"

#include <cstdlib>
#include <string_view>

namespace quib {
namespace fs = std::filesystem;

namespace {
fs::path xdgFolder(const char* variable, const char* fallbackBelowHome) {
    if (const char* value = std::getenv(variable); value && *value == '/') return value;
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/") / fallbackBelowHome;
}
}  // namespace

fs::path xdgConfigHome() { return xdgFolder("XDG_CONFIG_HOME", ".config"); }
fs::path xdgDataHome() { return xdgFolder("XDG_DATA_HOME", ".local/share"); }

std::vector<fs::path> xdgDataDirs() {
    std::vector<fs::path> folders;
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    std::string_view rest = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
    while (!rest.empty()) {
        const auto end = rest.find(':');
        fs::path folder(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (folder.is_absolute()) folders.push_back(std::move(folder));
    }
    return folders;
}

}  // namespace quib
