#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Shared/MenuCommand.hpp"
#include "Shared/ShortcutProfile.hpp"

namespace quib {

// Which of the commands read from an app's menu bar are worth a button on the phone, made into
// a shortcut profile whose buttons press the app's own keys. A fixed list of wanted commands
// (run, stop, build, save, find, undo, copy, ...) says, for each, the titles it answers to and
// the menus it is usually found in. Pure functions over constants: any thread may call them.
class MenuVocabulary {
public:
    MenuVocabulary() = delete;

    // One wanted command.
    struct Want {
        std::string id;                   // the id of its button
        std::string label;                // the button's caption
        std::string symbol;               // system symbol name of the button's glyph
        std::vector<std::string> titles;  // accepted titles, normalised, the preferred first
        std::vector<std::string> menus;   // lower-case menus it is looked for in first; may be empty
        bool glyphOnly = false;
        bool matchesLongerTitles = false;  // "undo typing" answers to "undo"

        Want(std::string id, std::string label, std::string symbol, std::vector<std::string> titles,
             std::vector<std::string> menus, bool matchesLongerTitles, bool glyphOnly);
    };

    // The most buttons taken from the menus, and the fewest that make a profile worth offering.
    static constexpr std::size_t limit = 12;
    static constexpr std::size_t minimumUseful = 3;
    static constexpr std::string_view profileIDPrefix = "menu:";

    // The wanted commands, in order of priority.
    static const std::vector<Want>& wants();

    // The profile "<app name> menus" of the wanted commands found among `commands`, each button
    // pressing the app's own chord for it, then Tab, Delete and dictation; none when fewer than
    // three wanted commands are found.
    static std::optional<ShortcutProfile> profile(const std::string& appName, const std::string& bundleID,
                                                  const std::vector<MenuCommand>& commands);
    // "menu:" and the lower-cased bundle identifier.
    static std::string profileID(const std::string& bundleID);
    // True for the id of a profile read from an app's menus, as opposed to a built-in one.
    static bool isDiscovered(const std::optional<std::string>& profileID);
};

}  // namespace quib
