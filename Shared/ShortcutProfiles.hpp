#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "Shared/QuibTarget.hpp"
#include "Shared/ShortcutProfile.hpp"

namespace quib {

// The built-in shortcut profiles and the choice among them.
//
// Three profiles suit tmux panes (an agent's or a shell's foreground program) and six suit apps
// (the generic one every app falls back to, and one per family of apps). Each is a process-wide
// constant built once on first use and never changed, so any thread may read them. Callers
// compare profiles by id only.
class ShortcutProfiles {
public:
    ShortcutProfiles() = delete;

    // Panes.
    static const ShortcutProfile& claudeCode();  // id "claude"
    static const ShortcutProfile& codex();       // id "codex"
    static const ShortcutProfile& shell();       // id "shell"

    // Apps.
    static const ShortcutProfile& app();          // id "app", the fallback
    static const ShortcutProfile& browser();      // id "browser"
    static const ShortcutProfile& editor();       // id "editor"
    static const ShortcutProfile& xcode();        // id "xcode"
    static const ShortcutProfile& chat();         // id "chat"
    static const ShortcutProfile& terminalApp();  // id "terminal"

    // claudeCode, codex, shell.
    static const std::vector<ShortcutProfile>& paneProfiles();
    // app, browser, editor, xcode, chat, terminalApp.
    static const std::vector<ShortcutProfile>& appProfiles();
    // The pane profiles, then the app profiles.
    static const std::vector<ShortcutProfile>& all();

    // The profiles offered for a kind of target: the pane profiles for tmux, else the app ones.
    static const std::vector<ShortcutProfile>& choices(QuibTarget::Kind kind);
    // The built-in profile with exactly this id (letter case counts), or null. Ids of profiles
    // read from an app's menus ("menu:...") are never found.
    static const ShortcutProfile* profile(const std::optional<std::string_view>& id);

    // The pane profile whose commands hold the lower-cased command as a whole word; shell for
    // none, "" and any other program.
    static const ShortcutProfile& guessForCommand(const std::optional<std::string_view>& command);
    // The app profile that lists the lower-cased bundle identifier; failing that, the first
    // listed identifier it begins with, followed by "." or "-" (so a nightly or insiders build
    // goes with its family); app otherwise.
    static const ShortcutProfile& guessForBundleID(const std::optional<std::string_view>& bundleID);
    // The built-in profile the target stores by id; otherwise by kind: an app's guessed from its
    // bundle identifier, a pane's from `paneCommand`, app for the frontmost app.
    static const ShortcutProfile& resolved(const QuibTarget& target,
                                           const std::optional<std::string_view>& paneCommand);

    // The phone's own dictation, which presses nothing: the last button of every built-in
    // profile and of every profile read from an app's menus.
    static const ShortcutAction& dictate();

private:
    // Shared by the profiles, which copy them.
    static const ShortcutAction& escape();
    static const ShortcutAction& copy();
    static const ShortcutAction& paste();
    static const ShortcutAction& close();
};

}  // namespace quib
