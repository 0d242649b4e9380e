#include "Platform/Freedesktop/DesktopEntries.hpp"

#include <algorithm>
#include <cstdlib>
#include <set>

#include "Runtime/AsciiText.hpp"
#include "Runtime/RegularFile.hpp"
#include "Runtime/Subprocess.hpp"
#include "Runtime/XdgFolders.hpp"

namespace quib {
namespace {

namespace fs = std::filesystem;

fs::file_time_type stampOf(const fs::path& folder) {
    std::error_code error;
    const auto stamp = fs::last_write_time(folder, error);
    return error ? fs::file_time_type::min() : stamp;
}

// "kde/konsole.desktop" below the root gives "kde-konsole".
std::string idOf(const fs::path& relative) {
    std::string id = relative.generic_string();
    id.resize(id.size() - std::string_view(".desktop").size());
    std::ranges::replace(id, '/', '-');
    return id;
}

std::optional<DesktopEntry> readEntry(const fs::path& file, const fs::path& root) {
    const auto text = readRegularFile(file, DesktopEntry::largestFile);
    if (!text) return std::nullopt;
    return DesktopEntry::parse(*text, idOf(file.lexically_relative(root)), file);
}

}  // namespace

std::vector<fs::path> DesktopEntries::standardFolders() {
    std::vector<fs::path> folders{xdgDataHome() / "applications"};
    for (const auto& folder : xdgDataDirs()) folders.push_back(folder / "applications");
    return folders;
}

std::string DesktopEntries::defaultSearchPath() { return Subprocess::searchPath(); }

DesktopEntries::DesktopEntries(std::vector<fs::path> folders, std::string searchPath)
    : searchPath_(std::move(searchPath)) {
    for (auto& root : folders) folders_.push_back(Folder{std::move(root), false, {}, {}});
}

template <class Admits>
std::vector<DesktopEntry> DesktopEntries::firstOfEachID(Admits admits) const {
    MutexLock guard(mutex_);
    std::vector<DesktopEntry> entries;
    std::set<std::string, std::less<>> seen;
    for (auto& folder : folders_) {
        if (isStale(folder)) scan(folder);
        for (const auto& entry : folder.entries)
            if (admits(entry.file.lexically_relative(folder.root)) && seen.insert(entry.id).second)
                entries.push_back(entry);
    }
    return entries;
}

std::vector<DesktopEntry> DesktopEntries::all() const {
    return firstOfEachID([](const fs::path&) { return true; });
}

std::vector<DesktopEntry> DesktopEntries::listed() const {
    return firstOfEachID([](const fs::path& relative) {
        std::size_t depth = 0;
        for (const auto& part : relative)
            if (++depth > 2 || part.native().starts_with('.')) return false;
        return true;
    });
}

std::vector<DesktopEntry> DesktopEntries::installed() const {
    auto entries = all();
    std::erase_if(entries, [this](const DesktopEntry& entry) { return !isInstalled(entry); });
    return entries;
}

bool DesktopEntries::isInstalled(const DesktopEntry& entry) const {
    if (entry.type != "Application" || entry.hidden) return false;
    return entry.tryExec.empty() || Subprocess::onPath(entry.tryExec, searchPath_).has_value();
}

std::optional<DesktopEntry> DesktopEntries::application(std::string_view bundleID) const {
    return find(installed(), bundleID);
}

std::optional<std::string> DesktopEntries::idOfFile(const fs::path& file) const {
    const fs::path normal = fs::absolute(file).lexically_normal();
    if (normal.extension() != ".desktop") return std::nullopt;
    MutexLock guard(mutex_);
    for (const auto& folder : folders_) {
        const fs::path relative = normal.lexically_relative(fs::absolute(folder.root).lexically_normal());
        if (relative.empty() || *relative.begin() == "..") continue;
        return idOf(relative);
    }
    return std::nullopt;
}

std::optional<DesktopEntry> DesktopEntries::find(std::span<const DesktopEntry> entries, std::string_view id) {
    if (auto exact = std::ranges::find(entries, id, &DesktopEntry::id); exact != entries.end()) return *exact;
    const auto loose =
        std::ranges::find_if(entries, [&](const DesktopEntry& e) { return ascii::equalIgnoringCase(e.id, id); });
    return loose == entries.end() ? std::nullopt : std::optional(*loose);
}

std::optional<DesktopEntry> DesktopEntries::owner(std::span<const DesktopEntry> entries, std::string_view windowClass,
                                                  std::string_view instance) {
    if (!windowClass.empty()) {
        const auto byClass = std::ranges::find(entries, windowClass, &DesktopEntry::startupWMClass);
        if (byClass != entries.end()) return *byClass;
    }
    for (std::string_view name : {windowClass, instance}) {
        if (name.empty()) continue;
        if (auto byID = find(entries, ascii::lowered(name))) return byID;
    }
    if (instance.empty()) return std::nullopt;
    const auto byProgram =
        std::ranges::find_if(entries, [&](const DesktopEntry& e) { return e.program() == instance; });
    return byProgram == entries.end() ? std::nullopt : std::optional(*byProgram);
}

bool DesktopEntries::isStale(const Folder& folder) {
    if (!folder.read) return true;
    return std::ranges::any_of(folder.stamps, [](const auto& stamp) { return stampOf(stamp.first) != stamp.second; });
}

// Reads the folder and its sub-folders; links to files are followed, links to folders are not.
void DesktopEntries::scan(Folder& folder) {
    folder.read = true;
    folder.stamps = {{folder.root, stampOf(folder.root)}};
    folder.entries.clear();
    std::error_code error;
    fs::recursive_directory_iterator it(folder.root, fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const fs::path& path = it->path();
        std::error_code ignored;
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) folder.stamps.emplace(path, stampOf(path));
        else if (path.extension() == ".desktop")
            if (auto entry = readEntry(path, folder.root)) folder.entries.push_back(std::move(*entry));
    }
    std::ranges::stable_sort(folder.entries, {}, &DesktopEntry::id);
}

}  // namespace quib
