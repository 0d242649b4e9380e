#include "Shared/ShortcutProfiles.hpp"

#include <cstdint>
#include <string>
#include <utility>

#include "Runtime/HostWords.hpp"

// The built-in buttons, one table per profile, in display order. Each row reads: id, label,
// symbol, chord, whether the phone shows the glyph alone, and the note explaining the button.

namespace quib {
namespace {

// Modifier flags of a chord, combined with "|".
enum Modifier : unsigned { plain = 0, control = 1, option = 2, shift = 4, command = 8 };

KeyChord chord(std::string key, unsigned modifiers = plain, std::int64_t repeatCount = 1) {
    return KeyChord(std::move(key), (modifiers & control) != 0, (modifiers & option) != 0, (modifiers & shift) != 0,
                    (modifiers & command) != 0, repeatCount);
}

// A button that presses `keys` on the target; without a chord, one the profile cannot press yet.
ShortcutAction key(std::string id, std::string label, std::string symbol, std::optional<KeyChord> keys, bool glyphOnly,
                   std::optional<std::string> note) {
    return ShortcutAction{std::move(id),   std::move(label), std::move(symbol), ShortcutAction::Kind::key,
                          std::move(keys), std::move(note),  glyphOnly};
}

}  // namespace

// Buttons most profiles share.

const ShortcutAction& ShortcutProfiles::escape() {
    static const ShortcutAction action = key("escape", "esc", "escape", chord("escape"), true, std::nullopt);
    return action;
}

const ShortcutAction& ShortcutProfiles::copy() {
    static const ShortcutAction action = key("copy", "copy", "doc.on.doc", chord("c", command), true, std::nullopt);
    return action;
}

const ShortcutAction& ShortcutProfiles::paste() {
    static const ShortcutAction action =
        key("paste", "paste", "doc.on.clipboard", chord("v", command), true, std::nullopt);
    return action;
}

const ShortcutAction& ShortcutProfiles::close() {
    static const ShortcutAction action = key("close", "close", "xmark", chord("w", command), false,
                                             "Closes the front tab, document or window. The app keeps running.");
    return action;
}

// Every built-in profile ends with this one: the phone's own dictation, which presses nothing.
const ShortcutAction& ShortcutProfiles::dictate() {
    static const ShortcutAction action{"dictate",    "talk",
                                       "mic.fill",   ShortcutAction::Kind::dictate,
                                       std::nullopt, "This phone's microphone. Transcribed here; only text is sent.",
                                       false};
    return action;
}

// Panes, chosen by the program in the foreground.

const ShortcutProfile& ShortcutProfiles::claudeCode() {
    static const ShortcutProfile profile{
        "claude",
        "Claude Code",
        {"claude"},
        {},
        {
            key("interrupt", "stop", "escape", chord("escape"), false, "Interrupts Claude, or closes a dialog."),
            key("mode", "mode", "lock.rotation", chord("tab", shift), false,
                "Cycles permission modes — accept edits, plan, and back."),
            key("rewind", "rewind", "arrow.uturn.backward", chord("escape", plain, 2), false,
                "Escape twice: clears the input draft, or rewinds."),
            key("tasks", "tasks", "checklist", chord("t", control), true, "Toggles Claude's task checklist."),
            key("transcript", "log", "text.alignleft", chord("o", control), true, "Toggles the transcript viewer."),
            key("clear-input", "clear", "delete.left", chord("u", control), true,
                "Throws away what is typed in the prompt without sending it."),
            key("tab", "tab", "arrow.right.to.line", chord("tab"), false,
                "Completes what is being typed — a file path, a slash command."),
            key("delete", "delete", "delete.backward", chord("delete"), false,
                "Backspace: rubs out the character before the cursor. Hold-to-repeat is a held key, which a pane "
                "cannot be sent — this is one character per tap."),
            key("voice", "its mic", "waveform.badge.mic", chord("space"), false,
                std::string(said<"Claude Code's own dictation, through ", HostWords::theComputer,
                                 "'s microphone. It records while the key is held, so from a phone it needs `/voice "
                                 "tap` first, which makes one press start and stop it.">)),
            dictate(),
        }};
    return profile;
}

const ShortcutProfile& ShortcutProfiles::codex() {
    static const ShortcutProfile profile{
        "codex",
        "Codex",
        {"codex"},
        {},
        {
            key("interrupt", "stop", "escape", chord("escape"), false, "Interrupts the current turn."),
            key("steer", "steer", "arrow.triangle.branch", chord("enter"), false,
                "Sends what is in the composer into the turn that is already running, redirecting it now."),
            key("queue", "queue", "text.line.first.and.arrowtriangle.forward", chord("tab"), false,
                "Holds what is in the composer until the current turn finishes."),
            key("mode", "mode", "lock.rotation", chord("tab", shift), false, "Cycles the permission mode."),
            key("edit-previous", "edit last", "arrow.uturn.backward", chord("escape", plain, 2), false,
                "Escape twice on an empty composer steps back to your last message."),
            key("clear-input", "clear", "delete.left", chord("u", control), true,
                "Throws away what is typed in the composer without sending it."),
            key("delete", "delete", "delete.backward", chord("delete"), false,
                "Backspace: rubs out the character before the cursor."),
            key("voice", "its mic", "waveform.badge.mic", std::nullopt, false,
                std::string(said<"Codex has a voice toggle in its keymap (toggle_voice_mute), but this version ships "
                                 "no default key for it. Bind one with /keymap on ",
                                 HostWords::theComputer, " and it can be added here.">)),
            dictate(),
        }};
    return profile;
}

// tmux itself in the foreground counts as a shell.
const ShortcutProfile& ShortcutProfiles::shell() {
    static const ShortcutProfile profile{
        "shell",
        "Shell",
        {"zsh", "bash", "fish", "sh", "tmux", "nu"},
        {},
        {
            key("enter", "run", "return", chord("enter"), true, "Runs whatever is sitting at the prompt."),
            key("interrupt", "^C", "stop.circle", chord("c", control), false, "Kills what is running."),
            key("clear-input", "clear", "delete.left", chord("u", control), true,
                "Throws away what is typed at the prompt without running it."),
            key("clear-screen", "wipe", "rectangle.dashed", chord("l", control), false,
                "Clears the screen. The scrollback is untouched."),
            key("eof", "^D", "escape", chord("d", control), false,
                "End of input. At an empty prompt this closes the shell."),
            key("tab", "tab", "arrow.right.to.line", chord("tab"), false,
                "Completes the path or command at the prompt."),
            key("delete", "delete", "delete.backward", chord("delete"), false,
                "Backspace: rubs out the character before the cursor."),
            dictate(),
        }};
    return profile;
}

// Apps, chosen by bundle identifier.

// The fallback for every app: it lists no identifiers.
const ShortcutProfile& ShortcutProfiles::app() {
    static const ShortcutProfile profile{
        "app",
        "App",
        {},
        {},
        {
            key("enter", "return", "return", chord("enter"), true, std::nullopt),
            escape(),
            copy(),
            paste(),
            key("tab", "tab", "arrow.right.to.line", chord("tab"), false, std::nullopt),
            key("delete", "delete", "delete.backward", chord("delete"), false, std::nullopt),
            close(),
            dictate(),
        }};
    return profile;
}

const ShortcutProfile& ShortcutProfiles::browser() {
    static const ShortcutProfile profile{
        "browser",
        "Browser",
        {},
        {"com.apple.safari", "com.apple.safaritechnologypreview", "com.google.chrome", "com.brave.browser",
         "com.microsoft.edgemac", "org.mozilla.firefox", "com.vivaldi.vivaldi", "com.operasoftware.opera",
         "com.kagi.kagimacos", "company.thebrowser.browser", "company.thebrowser.dia"},
        {
            key("reload", "reload", "arrow.clockwise", chord("r", command), true, "Reloads the page."),
            key("back", "back", "chevron.backward", chord("[", command), true, "Back one page."),
            key("forward", "forward", "chevron.forward", chord("]", command), true, "Forward one page."),
            key("find", "find", "magnifyingglass", chord("f", command), true,
                "Opens the find bar. Type into it from the composer."),
            key("address", "address", "character.cursor.ibeam", chord("l", command), false,
                "Selects the address bar, so the next thing sent is a URL or a search."),
            key("next-tab", "next tab", "arrow.right.to.line", chord("tab", control), false, "The tab to the right."),
            key("previous-tab", "prev tab", "arrow.left.to.line", chord("tab", control | shift), false,
                "The tab to the left."),
            copy(),
            paste(),
            escape(),
            close(),
            dictate(),
        }};
    return profile;
}

const ShortcutProfile& ShortcutProfiles::editor() {
    static const ShortcutProfile profile{
        "editor",
        "Code editor",
        {},
        {"com.microsoft.vscode", "com.microsoft.vscodeinsiders", "com.visualstudio.code.oss",
         "com.todesktop.230313mzl4w4u92", "com.exafunction.windsurf", "dev.zed.zed"},
        {
            key("save", "save", "square.and.arrow.down", chord("s", command), true, "Saves the file in front."),
            key("palette", "palette", "command", chord("p", shift | command), false,
                "The command palette. Everything else the editor can do is in here, typed."),
            key("open-file", "open", "magnifyingglass", chord("p", command), false, "Go to file by name."),
            key("find", "find", "text.magnifyingglass", chord("f", command), false, "Find in this file."),
            key("find-in-files", "find all", "doc.text.magnifyingglass", chord("f", shift | command), false,
                "Find across the project."),
            key("terminal", "terminal", "terminal", chord("`", control), true, "Shows or hides the built-in terminal."),
            key("sidebar", "sidebar", "sidebar.left", chord("b", command), true,
                "Shows or hides the file tree, which is the width you want back when you are reading."),
            copy(),
            paste(),
            escape(),
            close(),
            dictate(),
        }};
    return profile;
}

const ShortcutProfile& ShortcutProfiles::xcode() {
    static const ShortcutProfile profile{
        "xcode",
        "Xcode",
        {},
        {"com.apple.dt.xcode"},
        {
            key("run", "run", "play.fill", chord("r", command), true, "Build and run."),
            key("stop", "stop", "stop.fill", chord(".", command), true, "Stops the running scheme."),
            key("build", "build", "hammer", chord("b", command), true, "Builds without running."),
            key("test", "test", "checkmark.diamond", chord("u", command), false, "Runs the test suite."),
            key("open-quickly", "open", "magnifyingglass", chord("o", shift | command), false,
                "Open Quickly: a file or a symbol by name."),
            key("clean", "clean", "trash", chord("k", shift | command), false, "Cleans the build folder."),
            copy(),
            paste(),
            escape(),
            close(),
            dictate(),
        }};
    return profile;
}

const ShortcutProfile& ShortcutProfiles::chat() {
    static const ShortcutProfile profile{
        "chat",
        "Chat app",
        {},
        {"com.anthropic.claudefordesktop", "com.openai.chat"},
        {
            key("enter", "send", "paperplane", chord("enter"), true,
                "Sends what is in the composer. Useful when this target is set not to press Return for you."),
            key("new-chat", "new chat", "square.and.pencil", chord("n", command), false,
                "Starts a fresh conversation."),
            key("newline", "newline", "arrow.turn.down.left", chord("enter", shift), true,
                "A line break inside the composer instead of a send."),
            copy(),
            paste(),
            escape(),
            key("delete", "delete", "delete.backward", chord("delete"), false, "Backspace: one character per tap."),
            close(),
            dictate(),
        }};
    return profile;
}

const ShortcutProfile& ShortcutProfiles::terminalApp() {
    static const ShortcutProfile profile{
        "terminal",
        "Terminal app",
        {},
        {"com.apple.terminal", "com.googlecode.iterm2", "com.mitchellh.ghostty", "com.github.wez.wezterm",
         "net.kovidgoyal.kitty", "org.alacritty", "dev.warp.warp-stable", "co.zeit.hyper"},
        {
            key("enter", "run", "return", chord("enter"), true, "Runs whatever is sitting at the prompt."),
            key("interrupt", "^C", "stop.circle", chord("c", control), false,
                "Kills what is running in the front window."),
            key("clear-input", "clear", "delete.left", chord("u", control), true,
                "Throws away what is typed at the prompt without running it."),
            key("clear-screen", "wipe", "rectangle.dashed", chord("l", control), false,
                "Clears the screen. The scrollback is untouched."),
            key("find", "find", "magnifyingglass", chord("f", command), true,
                "The terminal's own search over the scrollback."),
            key("eof", "^D", "escape", chord("d", control), false,
                "End of input. At an empty prompt this closes the shell."),
            key("tab", "tab", "arrow.right.to.line", chord("tab"), false,
                "Completes the path or command at the prompt."),
            key("delete", "delete", "delete.backward", chord("delete"), false,
                "Backspace: rubs out the character before the cursor."),
            copy(),
            paste(),
            close(),
            dictate(),
        }};
    return profile;
}

}  // namespace quib
