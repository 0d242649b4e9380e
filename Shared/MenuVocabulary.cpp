#include "Shared/MenuVocabulary.hpp"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "Runtime/UnicodeText.hpp"
#include "Shared/ShortcutProfiles.hpp"

namespace quib {
namespace {

// A useful command with the forms the matching compares, made once per profile.
struct Candidate {
    const MenuCommand* command;
    std::string menu;   // lower case, not trimmed
    std::string title;  // normalised
};

// Worth a button: a chord with Command, Control or Option, or a function key with any modifiers.
// Plain letters, Return, arrows and Shift alone would only type or move.
bool isUseful(const KeyChord& chord) {
    return chord.command || chord.control || chord.option || KeyChord::functionKeyNumber(chord.key).has_value();
}

std::vector<Candidate> usefulCandidates(const std::vector<MenuCommand>& commands) {
    std::vector<Candidate> out;
    for (const MenuCommand& command : commands)
        if (isUseful(command.chord)) out.push_back({&command, unicode::lower(command.menu), command.normalisedTitle()});
    return out;
}

// The first candidate of `pool` with one of the titles, the earlier title winning; with
// `prefix`, a title followed by a space begins the candidate's title.
const Candidate* firstWithTitle(const std::vector<std::string>& titles, const std::vector<const Candidate*>& pool,
                                bool prefix) {
    for (const std::string& title : titles)
        for (const Candidate* candidate : pool) {
            const bool found = prefix ? candidate->title.starts_with(title + " ") : candidate->title == title;
            if (found) return candidate;
        }
    return nullptr;
}

// The exact titles first, in the wanted menus and then anywhere; only when none is found, and
// only for wants that allow it, a longer title the same way.
std::optional<MenuCommand> match(const MenuVocabulary::Want& want, const std::vector<Candidate>& useful) {
    std::vector<const Candidate*> everywhere, preferred;
    for (const Candidate& candidate : useful) {
        everywhere.push_back(&candidate);
        if (std::ranges::find(want.menus, candidate.menu) != want.menus.end()) preferred.push_back(&candidate);
    }
    for (const bool prefix : {false, true}) {
        if (prefix && !want.matchesLongerTitles) break;
        for (const auto* pool : {&preferred, &everywhere})
            if (const Candidate* found = firstWithTitle(want.titles, *pool, prefix)) return *found->command;
    }
    return std::nullopt;
}

// "Notes' own key for File ▸ Save." and "Bars Editor's own key for File ▸ Save.".
std::string noteFor(const std::string& appName, const MenuCommand& command) {
    const std::string possessive = unicode::lower(appName).ends_with("s") ? "'" : "'s";
    return appName + possessive + " own key for " + command.menu + " \u25B8 " + command.title + ".";
}

// Tab and Delete, which every app takes, and the phone's dictation.
const std::vector<ShortcutAction>& fixedActions() {
    static const std::vector<ShortcutAction> actions{
        {"tab", "tab", "arrow.right.to.line", ShortcutAction::Kind::key, KeyChord("tab"),
         "Tab: the next field, or a completion.", false},
        {"delete", "delete", "delete.backward", ShortcutAction::Kind::key, KeyChord("delete"),
         "Backspace: one character per tap.", false},
        ShortcutProfiles::dictate(),
    };
    return actions;
}

}  // namespace

MenuVocabulary::Want::Want(std::string id, std::string label, std::string symbol, std::vector<std::string> titles,
                           std::vector<std::string> menus, bool matchesLongerTitles, bool glyphOnly)
    : id(std::move(id)),
      label(std::move(label)),
      symbol(std::move(symbol)),
      titles(std::move(titles)),
      menus(std::move(menus)),
      glyphOnly(glyphOnly),
      matchesLongerTitles(matchesLongerTitles) {}

// Each row reads: id, label, symbol, accepted titles, the menus looked in first, whether a
// longer title matches, whether the button shows its glyph alone.
const std::vector<MenuVocabulary::Want>& MenuVocabulary::wants() {
    static const std::vector<Want> table{
        {"run",
         "run",
         "play.fill",
         {"run", "build and run", "build & run", "start debugging", "run without debugging", "run project", "run app"},
         {"product", "run", "build", "debug", "terminal", "tasks", "go"},
         false,
         true},
        {"stop",
         "stop",
         "stop.fill",
         {"stop", "stop debugging", "cancel build", "stop build", "stop task"},
         {"product", "run", "build", "debug", "terminal", "tasks", "view"},
         false,
         true},
        {"build",
         "build",
         "hammer",
         {"build", "build project", "build for running", "compile"},
         {"product", "run", "build", "terminal", "tasks"},
         false,
         true},
        {"test",
         "test",
         "checkmark.diamond",
         {"test", "run tests", "run all tests", "test project"},
         {"product", "run", "build", "debug", "terminal", "tasks"},
         false,
         false},
        {"reload",
         "reload",
         "arrow.clockwise",
         {"reload page", "reload this page", "reload", "refresh", "reload page from origin"},
         {"view", "history", "go", "file"},
         false,
         true},
        {"back",
         "back",
         "chevron.backward",
         {"back", "go back", "show previous page"},
         {"history", "go", "navigate", "view"},
         false,
         true},
        {"forward",
         "forward",
         "chevron.forward",
         {"forward", "go forward", "show next page"},
         {"history", "go", "navigate", "view"},
         false,
         true},
        {"save", "save", "square.and.arrow.down", {"save", "save file"}, {"file"}, false, true},
        {"find",
         "find",
         "magnifyingglass",
         {"find", "find in page", "search"},
         {"edit", "find", "search"},
         false,
         false},
        {"find-all",
         "find all",
         "doc.text.magnifyingglass",
         {"find in files", "find in project", "find in folder", "find in workspace", "search in files",
          "find in all projects"},
         {"edit", "find", "search", "navigate", "go"},
         false,
         false},
        {"open-quickly",
         "open",
         "doc.text.magnifyingglass",
         {"open quickly", "go to file", "quick open", "open file quickly", "go to anything"},
         {"file", "go", "navigate", "edit"},
         false,
         false},
        {"palette",
         "palette",
         "command",
         {"command palette", "show command palette", "show all commands"},
         {},
         false,
         false},
        {"terminal",
         "terminal",
         "terminal",
         {"toggle terminal", "terminal", "show terminal", "new terminal"},
         {"view", "terminal", "window", "shell", "tools"},
         false,
         true},
        {"sidebar",
         "sidebar",
         "sidebar.left",
         {"toggle sidebar", "show sidebar", "hide sidebar", "toggle primary side bar", "toggle left dock",
          "show navigator", "hide navigator"},
         {"view", "window", "appearance"},
         false,
         true},
        {"new",
         "new",
         "square.and.pencil",
         {"new tab", "new chat", "new conversation", "new", "new file", "new document", "new window"},
         {"file", "shell", "chat", "session"},
         true,
         false},
        {"next-tab",
         "next tab",
         "arrow.right.to.line",
         {"show next tab", "select next tab", "next tab", "go to next tab"},
         {"window", "tab", "view", "shell", "go"},
         false,
         false},
        {"previous-tab",
         "prev tab",
         "arrow.left.to.line",
         {"show previous tab", "select previous tab", "previous tab", "go to previous tab"},
         {"window", "tab", "view", "shell", "go"},
         false,
         false},
        {"address",
         "address",
         "character.cursor.ibeam",
         {"open location", "address bar", "focus address bar"},
         {"file", "view", "go", "edit"},
         false,
         false},
        {"undo", "undo", "arrow.uturn.backward", {"undo"}, {"edit"}, true, false},
        {"redo", "redo", "arrow.uturn.forward", {"redo"}, {"edit"}, true, false},
        {"copy", "copy", "doc.on.doc", {"copy"}, {"edit"}, false, true},
        {"paste", "paste", "doc.on.clipboard", {"paste"}, {"edit"}, false, true},
        {"close",
         "close",
         "xmark",
         {"close", "close tab", "close window", "close editor"},
         {"file", "window"},
         false,
         true},
    };
    return table;
}

std::optional<ShortcutProfile> MenuVocabulary::profile(const std::string& appName, const std::string& bundleID,
                                                       const std::vector<MenuCommand>& commands) {
    const std::vector<Candidate> useful = usefulCandidates(commands);
    std::vector<ShortcutAction> actions;
    std::unordered_set<KeyChord> usedChords;
    for (const Want& want : wants()) {
        if (actions.size() == limit) break;
        const auto found = match(want, useful);
        // A chord an earlier want owns gives this one no button.
        if (!found || !usedChords.insert(found->chord).second) continue;
        actions.push_back({want.id, want.label, want.symbol, ShortcutAction::Kind::key, found->chord,
                           noteFor(appName, *found), want.glyphOnly});
    }
    if (actions.size() < minimumUseful) return std::nullopt;
    actions.insert(actions.end(), fixedActions().begin(), fixedActions().end());
    return ShortcutProfile{profileID(bundleID), appName + " menus", {}, {}, std::move(actions)};
}

std::string MenuVocabulary::profileID(const std::string& bundleID) {
    return std::string(profileIDPrefix) + unicode::lower(bundleID);
}

bool MenuVocabulary::isDiscovered(const std::optional<std::string>& profileID) {
    return profileID && profileID->starts_with(profileIDPrefix);
}

}  // namespace quib
