#include "Platform/Freedesktop/IconTheme.hpp"

#include <array>
#include <charconv>
#include <climits>
#include <cstdlib>

#include "Runtime/RegularFile.hpp"
#include "Runtime/XdgFolders.hpp"

namespace quib {
namespace {

namespace fs = std::filesystem;

// Tried in this order within one folder.
constexpr std::array<std::string_view, 3> extensions{".png", ".svg", ".xpm"};
// Sizes beyond this are nonsense, and keeping them small keeps the size arithmetic exact.
constexpr int largestSize = 1 << 14;
// A theme's index runs to a few kilobytes; a larger one is taken as unreadable, not read.
constexpr std::uintmax_t largestIndex = 1 << 20;

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view spaces = " \t\r\n";
    const auto begin = text.find_first_not_of(spaces);
    if (begin == std::string_view::npos) return {};
    return text.substr(begin, text.find_last_not_of(spaces) - begin + 1);
}

// A ","-separated list with its items trimmed; empty items are dropped.
std::vector<std::string> commaList(std::string_view value) {
    std::vector<std::string> items;
    while (!value.empty()) {
        const auto comma = value.find(',');
        if (const auto item = trimmed(value.substr(0, comma)); !item.empty()) items.emplace_back(item);
        value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
    }
    return items;
}

// A whole non-negative decimal number no larger than largestSize.
std::optional<int> number(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0 || value > largestSize)
        return std::nullopt;
    return value;
}

// A name that, joined to a folder, stays inside it.
bool isPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

// A relative path of plain names ("48x48/apps").
bool staysInside(std::string_view path) {
    if (path.empty()) return false;
    while (!path.empty()) {
        const auto slash = path.find('/');
        if (!isPlainName(path.substr(0, slash))) return false;
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    }
    return true;
}

bool isFile(const fs::path& path) {
    std::error_code error;
    return fs::is_regular_file(path, error);
}

bool isFolder(const fs::path& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

using Groups = std::map<std::string, std::map<std::string, std::string, std::less<>>, std::less<>>;

// The keys of every group, the first value of each key.
Groups groupsOf(std::string_view text) {
    Groups groups;
    std::map<std::string, std::string, std::less<>>* current = nullptr;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            current = &groups[std::string(line.substr(1, line.size() - 2))];
            continue;
        }
        const auto equals = line.find('=');
        if (!current || equals == std::string_view::npos) continue;
        current->emplace(std::string(trimmed(line.substr(0, equals))), std::string(trimmed(line.substr(equals + 1))));
    }
    return groups;
}

Subprocess::Result runGsettings(const std::vector<std::string>& arguments) {
    const auto program = Subprocess::onPath("gsettings", Subprocess::searchPath());
    if (!program) return {false, "gsettings not found"};
    return Subprocess::run(*program, arguments, std::nullopt, IconTheme::timeout);
}

}  // namespace

std::vector<fs::path> IconTheme::standardBaseFolders() {
    std::vector<fs::path> folders{xdgDataHome() / "icons"};
    if (const char* home = std::getenv("HOME"); home && *home == '/') folders.push_back(fs::path(home) / ".icons");
    for (const auto& folder : xdgDataDirs()) folders.push_back(folder / "icons");
    return folders;
}

std::shared_ptr<IconTheme> IconTheme::standard() {
    static const auto shared = std::make_shared<IconTheme>(Config{});
    return shared;
}

IconTheme::IconTheme(Config config) : config_(std::move(config)) {
    if (!config_.gsettings) config_.gsettings = runGsettings;
}

std::optional<std::string> IconTheme::parseThemeName(std::string_view printed) {
    printed = trimmed(printed);
    if (printed.size() < 2 || (printed.front() != '\'' && printed.front() != '"') || printed.back() != printed.front())
        return std::nullopt;
    std::string name;
    const std::string_view inner = printed.substr(1, printed.size() - 2);
    for (std::size_t i = 0; i < inner.size(); ++i) {
        if (inner[i] == '\\' && i + 1 < inner.size()) ++i;
        name += inner[i];
    }
    if (!isPlainName(name)) return std::nullopt;
    return name;
}

const std::optional<std::string>& IconTheme::currentTheme() const {
    std::call_once(themeAsked_, [this] {
        const auto run = config_.gsettings({"get", "org.gnome.desktop.interface", "icon-theme"});
        if (run.ok) theme_ = parseThemeName(run.output);
    });
    return theme_;
}

std::optional<fs::path> IconTheme::find(std::string_view icon) const {
    if (icon.empty()) return std::nullopt;
    if (fs::path(icon).is_absolute()) return fs::path(icon);
    // Only the last extension goes: "logo.svg.png" names the icon "logo.svg".
    std::string name(icon);
    for (const auto extension : extensions) {
        if (name.size() > extension.size() && name.ends_with(extension)) {
            name.resize(name.size() - extension.size());
            break;
        }
    }
    if (!isPlainName(name)) return std::nullopt;
    std::set<std::string> visited;
    if (const auto& theme = currentTheme())
        if (auto file = findInTheme(name, *theme, visited)) return file;
    if (auto file = findInTheme(name, "hicolor", visited)) return file;
    return inPixmaps(name);
}

// A theme that has no index anywhere is not installed, and neither are the themes it would
// inherit from through it. Each theme is searched at most once, so an inheritance loop ends.
std::optional<fs::path> IconTheme::findInTheme(const std::string& name, const std::string& theme,
                                               std::set<std::string>& visited) const {
    if (!isPlainName(theme) || !visited.insert(theme).second) return std::nullopt;
    const auto found = index(theme);
    if (!found) return std::nullopt;
    if (auto file = lookup(name, theme, *found)) return file;
    for (const auto& parent : found->inherits)
        if (auto file = findInTheme(name, parent, visited)) return file;
    return std::nullopt;
}

// A folder that matches the size wins outright; otherwise the first file at the smallest size
// distance, folders in index order, base folders in order, extensions in order.
std::optional<fs::path> IconTheme::lookup(const std::string& name, const std::string& theme, const Index& index) const {
    std::vector<fs::path> roots;
    for (const auto& base : config_.baseFolders)
        if (isFolder(base / theme)) roots.push_back(base / theme);
    const auto firstIn = [&](const Directory& directory) -> std::optional<fs::path> {
        for (const auto& root : roots)
            for (const auto extension : extensions)
                if (auto file = root / directory.path / (name + std::string(extension)); isFile(file)) return file;
        return std::nullopt;
    };
    for (const auto& directory : index.directories)
        if (directory.matchesSize())
            if (auto file = firstIn(directory)) return file;
    std::optional<fs::path> closest;
    int smallest = INT_MAX;
    for (const auto& directory : index.directories) {
        const int distance = directory.sizeDistance();
        if (distance >= smallest) continue;
        if (auto file = firstIn(directory)) {
            closest = std::move(file);
            smallest = distance;
        }
    }
    return closest;
}

std::optional<fs::path> IconTheme::inPixmaps(const std::string& name) const {
    for (const auto extension : extensions)
        if (auto file = config_.pixmaps / (name + std::string(extension)); isFile(file)) return file;
    return std::nullopt;
}

std::optional<IconTheme::Index> IconTheme::index(const std::string& theme) const {
    for (const auto& base : config_.baseFolders) {
        const fs::path file = base / theme / "index.theme";
        std::error_code error;
        const auto stamp = fs::last_write_time(file, error);
        if (error || !isFile(file)) continue;
        {
            MutexLock lock(mutex_);
            if (const auto cached = indexes_.find(file); cached != indexes_.end() && cached->second.stamp == stamp)
                return cached->second;
        }
        const auto text = readRegularFile(file, largestIndex);
        if (!text) continue;
        Index read = parseIndex(*text);
        read.stamp = stamp;
        MutexLock lock(mutex_);
        indexes_[file] = read;
        return read;
    }
    return std::nullopt;
}

// Folders without a usable Size, or whose name would leave the theme, are left out.
IconTheme::Index IconTheme::parseIndex(std::string_view text) {
    const Groups groups = groupsOf(text);
    Index index;
    const auto theme = groups.find("Icon Theme");
    if (theme == groups.end()) return index;
    const auto value = [](const auto& keys, std::string_view key) -> std::string_view {
        const auto found = keys.find(key);
        return found == keys.end() ? std::string_view() : std::string_view(found->second);
    };
    index.inherits = commaList(value(theme->second, "Inherits"));
    for (auto& path : commaList(value(theme->second, "Directories"))) {
        const auto group = groups.find(path);
        if (group == groups.end() || !staysInside(path)) continue;
        const auto& keys = group->second;
        const auto size = number(value(keys, "Size"));
        if (!size) continue;
        Directory directory;
        directory.path = std::move(path);
        directory.size = *size;
        const auto type = value(keys, "Type");
        if (type == "Fixed") directory.type = Directory::Type::fixed;
        else if (type == "Scalable") directory.type = Directory::Type::scalable;
        directory.scale = std::max(1, number(value(keys, "Scale")).value_or(1));
        directory.minSize = number(value(keys, "MinSize")).value_or(*size);
        directory.maxSize = number(value(keys, "MaxSize")).value_or(*size);
        directory.threshold = number(value(keys, "Threshold")).value_or(2);
        index.directories.push_back(std::move(directory));
    }
    return index;
}

bool IconTheme::Directory::matchesSize() const {
    if (scale != IconTheme::scale) return false;
    switch (type) {
        case Type::fixed: return size == IconTheme::size;
        case Type::scalable: return minSize <= IconTheme::size && IconTheme::size <= maxSize;
        case Type::threshold: return size - threshold <= IconTheme::size && IconTheme::size <= size + threshold;
    }
    return false;
}

// How far the folder's pictures are from the wanted size, in pixels at their scale: 0 when
// the folder covers it.
int IconTheme::Directory::sizeDistance() const {
    constexpr int wanted = IconTheme::size * IconTheme::scale;
    const auto outside = [](int low, int high) {
        if (wanted < low) return low - wanted;
        if (wanted > high) return wanted - high;
        return 0;
    };
    switch (type) {
        case Type::fixed: return outside(size * scale, size * scale);
        case Type::scalable: return outside(minSize * scale, maxSize * scale);
        case Type::threshold: return outside((size - threshold) * scale, (size + threshold) * scale);
    }
    return INT_MAX;
}

}  // namespace quib
