#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quib {

// One application as the desktop describes it in a ".desktop" file: the keys of its
// "[Desktop Entry]" group that the host uses. Of the localised keys, only the names are read.
struct DesktopEntry {
    // Real entries are a few kilobytes; a larger file is not taken for one, and is not read.
    static constexpr std::uintmax_t largestFile = 1 << 20;

    // The desktop-file ID without ".desktop" ("org.gnome.Terminal", "kde-konsole" for
    // kde/konsole.desktop): what the host calls the app's bundle identifier.
    std::string id;
    std::filesystem::path file;
    std::string type;  // "Application", "Link", "Directory"
    std::string name;
    std::map<std::string, std::string> localizedNames;  // Name[<locale>] by locale ("de", "pt_BR")
    std::string exec;                                   // the command line, escapes resolved, quoting kept
    std::string tryExec;                                // a program that must exist for the entry to count
    std::string icon;
    std::string startupWMClass;  // the window class the app's windows carry
    std::vector<std::string> categories;
    bool noDisplay = false;  // installed but kept out of menus
    bool hidden = false;     // as good as deleted
    bool terminal = false;   // runs inside a terminal emulator, with no window of its own

    // The entry in `text`, or none when it has no "[Desktop Entry]" group.
    static std::optional<DesktopEntry> parse(std::string_view text, std::string id, std::filesystem::path file);

    // The user's locale for messages: the first of $LC_ALL, $LC_MESSAGES and $LANG that is set
    // and not empty; "" when none is.
    static std::string messagesLocale();
    // The name in the language of `locale` (lang_COUNTRY.ENCODING@MODIFIER, each part but the
    // language optional): the Name[...] for lang_COUNTRY@MODIFIER, lang_COUNTRY, lang@MODIFIER or
    // lang, the first there is, else Name.
    std::string localizedName(std::string_view locale = messagesLocale()) const;
    // The ID or file name ("org.gnome.Terminal.desktop") lower-cased and without ".desktop":
    // how apps named by different sources are matched.
    static std::string key(std::string_view idOrFileName);

    // The base name of the program that Exec starts ("" without Exec).
    std::string program() const;
    // A terminal emulator: its categories hold "TerminalEmulator".
    bool isTerminalEmulator() const;

    bool operator==(const DesktopEntry&) const = default;
};

}  // namespace quib
