#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quib {

// Starting the host when the user logs in: an XDG autostart desktop entry that runs this program.
//
// The entry is ours alone (one file named after the program); turning the item on writes it
// afresh, turning it off removes it. A desktop session starts every entry in the autostart
// folder that is not hidden.
class LoginItem {
public:
    enum class Status {
        notRegistered,  // no entry, or an entry that the session would skip
        enabled,        // the session starts the program at login
    };

    // The entry's file name in the autostart folder: the host's desktop ID and ".desktop".
    static std::string entryFileName();

    // The login item of the running program: $XDG_CONFIG_HOME/autostart/quib-host.desktop,
    // starting the executable this process was started from.
    static LoginItem forThisProgram();

    LoginItem(std::filesystem::path entryPath, std::filesystem::path executable);

    // Writes or removes the entry. None on success, else the reason as a sentence. Removing an
    // entry that is not there succeeds.
    std::optional<std::string> setEnabled(bool on) const;
    Status status() const;
    bool isEnabled() const { return status() == Status::enabled; }

    // The textual form of a status, for the log.
    static std::string_view describe(Status status);

    // The entry's contents for `executable`, or none when the path cannot be written in a
    // desktop entry (it holds a line break or another control character).
    static std::optional<std::string> entryText(const std::filesystem::path& executable);

    // The folder the host is installed under (CMake's install prefix, /usr/local by default).
    static std::filesystem::path installPrefix();
    // Whether `executable` lies in the prefix's bin folder: only the installed host starts at
    // login, so that the entry never names a build folder that may go.
    static bool isInstalledAt(const std::filesystem::path& executable, const std::filesystem::path& prefix);
    // The item is offered for this executable.
    bool isOffered() const { return isInstalledAt(executable_, installPrefix()); }

    const std::filesystem::path& entryPath() const { return entryPath_; }
    const std::filesystem::path& executable() const { return executable_; }

private:
    std::filesystem::path entryPath_;
    std::filesystem::path executable_;
};

}  // namespace quib
