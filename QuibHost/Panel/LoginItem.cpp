#include "QuibHost/Panel/LoginItem.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <system_error>

#include "Platform/Freedesktop/AppIdentity.hpp"
#include "Platform/Freedesktop/DesktopEntry.hpp"
#include "Runtime/AtomicFile.hpp"
#include "Runtime/HostWords.hpp"
#include "Runtime/RegularFile.hpp"
#include "Runtime/XdgFolders.hpp"

namespace quib {
namespace fs = std::filesystem;

namespace {

// The running program's own path; falls back to the plain name, which the session then looks
// up in PATH.
fs::path runningExecutable() {
    std::error_code ec;
    fs::path path = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path("quib-host") : path;
}

bool hasControlCharacter(std::string_view text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

// One argument of an Exec key: quoted when it holds a reserved character, with the characters
// that stay special inside quotes escaped, "%" doubled, and then every backslash escaped once
// more, because the whole value is itself an escaped string.
std::string execArgument(std::string_view argument) {
    constexpr std::string_view reserved = " \t\"'\\><~|&;$*?#()`";
    const bool quote = argument.empty() || argument.find_first_of(reserved) != std::string_view::npos;
    std::string arg;
    for (char c : argument) {
        if (c == '%') arg += "%%";
        else if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) (arg += '\\') += c;
        else arg += c;
    }
    if (quote) arg = "\"" + arg + "\"";
    std::string value;
    for (char c : arg) {
        if (c == '\\') value += "\\\\";
        else value += c;
    }
    return value;
}

std::string trimmed(std::string_view text) {
    const auto begin = text.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos) return {};
    const auto end = text.find_last_not_of(" \t\r");
    return std::string(text.substr(begin, end - begin + 1));
}

// Whether an entry's text asks the session to skip it: Hidden=true, or the widespread
// X-GNOME-Autostart-enabled=false. Only keys of the [Desktop Entry] group count.
bool isSkipped(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    bool inMainGroup = false;
    while (std::getline(lines, line)) {
        const std::string entry = trimmed(line);
        if (entry.empty() || entry.front() == '#') continue;
        if (entry.front() == '[') {
            inMainGroup = entry == "[Desktop Entry]";
            continue;
        }
        const auto equals = entry.find('=');
        if (!inMainGroup || equals == std::string::npos) continue;
        const std::string key = trimmed(std::string_view(entry).substr(0, equals));
        const std::string value = trimmed(std::string_view(entry).substr(equals + 1));
        if (key == "Hidden" && value == "true") return true;
        if (key == "X-GNOME-Autostart-enabled" && value == "false") return true;
    }
    return false;
}

}  // namespace

std::string LoginItem::entryFileName() { return std::string(AppIdentity::hostDesktopID) + ".desktop"; }

LoginItem LoginItem::forThisProgram() {
    return LoginItem(xdgConfigHome() / "autostart" / entryFileName(), runningExecutable());
}

LoginItem::LoginItem(fs::path entryPath, fs::path executable)
    : entryPath_(std::move(entryPath)), executable_(std::move(executable)) {}

std::optional<std::string> LoginItem::entryText(const fs::path& executable) {
    if (hasControlCharacter(executable.string())) return std::nullopt;
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=" +
           HostWords::product.str() +
           "\n"
           "Comment=Lets a paired phone drive this computer\n"
           "Exec=" +
           execArgument(executable.string()) +
           "\n"
           "Terminal=false\n"
           "NoDisplay=true\n"
           "X-GNOME-Autostart-enabled=true\n";
}

std::optional<std::string> LoginItem::setEnabled(bool on) const {
    if (on) {
        const auto text = entryText(executable_);
        if (!text) return "The program’s path cannot be written into an autostart entry: " + executable_.string();
        if (auto written = writeFileAtomically(entryPath_, *text, 0644); !written) return written.error().message;
        return std::nullopt;
    }
    if (::unlink(entryPath_.c_str()) != 0 && errno != ENOENT)
        return "Cannot remove " + entryPath_.string() + ": " + std::strerror(errno);
    return std::nullopt;
}

LoginItem::Status LoginItem::status() const {
    // An entry too large to be one, or a path that is no regular file, is not the program's.
    const auto text = readRegularFile(entryPath_, DesktopEntry::largestFile);
    if (!text) return Status::notRegistered;
    return isSkipped(*text) ? Status::notRegistered : Status::enabled;
}

fs::path LoginItem::installPrefix() { return QUIB_INSTALL_PREFIX; }

// "/usr/local/bin/" must begin the path as written: "/usr/localx/bin/quib-host" is elsewhere.
bool LoginItem::isInstalledAt(const fs::path& executable, const fs::path& prefix) {
    std::string bin = (prefix / "bin").lexically_normal().string();
    if (bin.empty() || bin.back() != '/') bin += '/';
    const std::string path = executable.lexically_normal().string();
    return executable.is_absolute() && path.size() > bin.size() && path.compare(0, bin.size(), bin) == 0;
}

std::string_view LoginItem::describe(Status status) {
    switch (status) {
        case Status::enabled: return "enabled";
        case Status::notRegistered: return "notRegistered";
    }
    return "notRegistered";
}

}  // namespace quib
