#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Shared/Json.hpp"

namespace quib {

// One form of a control command: the command's name (the request's "command"), the words quibctl
// takes it in with its arguments, what it does, and the request those words make. The forms are
// the rows of `QUIB_CONTROL_COMMANDS`, the one list that quibctl's usage, its parser, the host's
// "Unknown command" answer, the host's handlers (ControlCommands) and the README's list are made
// from.
struct ControlCommand {
    // The command line after the tool's name: the command's name, then its arguments.
    using Arguments = std::vector<std::string>;
    using Request = std::optional<Json> (*)(const Arguments& arguments);

    std::string_view name;
    std::string_view form;
    std::string_view does;  // lines after the first are indented under the first
    Request request;        // none: the arguments do not fit this form

    // Every form's usage line, in order, or those of one command (empty for an unknown one).
    static std::string usage();
    static std::string usageOf(std::string_view name);
    // "status, devices, ... and quit": the commands in order.
    static std::string knownList();
    // The request for a command line, or none when it fits no form of its command.
    static std::optional<Json> requestFor(const Arguments& arguments);

    // The command alone, {"command": name}.
    static std::optional<Json> bare(const Arguments& arguments);
    // One argument, not empty, under `key`.
    static std::optional<Json> oneArgument(const Arguments& arguments, const char* key);
    // One argument that is one of `words`, under `key`.
    static std::optional<Json> oneOf(const Arguments& arguments, const char* key,
                                     std::initializer_list<std::string_view> words);
    // The one argument `word`, as `key`: true.
    static std::optional<Json> flag(const Arguments& arguments, std::string_view word, const char* key);
    // on or off, as `key`: true or false.
    static std::optional<Json> onOff(const Arguments& arguments, const char* key);
    static std::optional<Json> removeTargets(const Arguments& arguments);
    static std::optional<Json> moveTargets(const Arguments& arguments);
    // settings [--select ID,...] and show settings [--select ID]
    static std::optional<Json> settings(const Arguments& arguments);
    // target ID [set FIELD VALUE | choose-app FILE | refresh]; the file by its absolute path.
    static std::optional<Json> target(const Arguments& arguments);
    static std::optional<Json> answer(const Arguments& arguments);
};

// The control commands, one row a form: X(handler, name, form, does, request). After the handler
// come the fields of `ControlCommand`; the handler is the member of `ControlCommands` that carries
// the command out, named here so that quibctl reads the list without the host. A command's forms
// stand together and name the same handler, and a handler the host lacks does not compile: adding
// a command is adding its rows and its handler.
#define QUIB_CONTROL_COMMANDS(X)                                                                                       \
    X(status, "status", "status", "the host's state: listening, pairing code, permissions, pause",                     \
      ControlCommand::bare)                                                                                            \
    X(devices, "devices", "devices", "phones waiting for approval, approved and revoked", ControlCommand::bare)        \
    X(approve, "approve", "approve DEVICE-ID", "let a waiting or revoked phone drive this computer",                   \
      [](const auto& a) { return ControlCommand::oneArgument(a, "device"); })                                          \
    X(revoke, "revoke", "revoke DEVICE-ID", "take an approved phone's permission away and disconnect it",              \
      [](const auto& a) { return ControlCommand::oneArgument(a, "device"); })                                          \
    X(code, "code", "code [--rotate]", "show the pairing code, or draw a new one (disconnects every phone)",           \
      [](const auto& a) {                                                                                              \
          return a.size() == 1 ? ControlCommand::bare(a) : ControlCommand::flag(a, "--rotate", "rotate");              \
      })                                                                                                               \
    X(pause, "pause", "pause", "stop posting input from phones", ControlCommand::bare)                                 \
    X(resume, "resume", "resume", "post input from phones again", ControlCommand::bare)                                \
    X(watch, "watch", "watch",                                                                                         \
      "print what happens as it happens: phones, approvals, agents' requests,\n"                                       \
      "pause, new codes, away access (Ctrl-C ends)",                                                                   \
      ControlCommand::bare)                                                                                            \
    X(targets, "targets", "targets",                                                                                   \
      "the saved targets in order, then those offered provisionally, with\n"                                           \
      "their shortcut profiles, the active one marked",                                                                \
      ControlCommand::bare)                                                                                            \
    X(targets, "targets", "targets add", "add a target named \"New target\" at the end and print its id",              \
      [](const auto& a) { return ControlCommand::flag(a, "add", "add"); })                                             \
    X(targets, "targets", "targets remove TARGET...", "remove saved targets (none when one of them is not saved)",     \
      ControlCommand::removeTargets)                                                                                   \
    X(targets, "targets", "targets move OFFSET... --to N",                                                             \
      "move the saved targets at these offsets (from 0) to before the one at\n"                                        \
      "offset N, or to the end when N is their count",                                                                 \
      ControlCommand::moveTargets)                                                                                     \
    X(target, "target", "target TARGET", "the target's editor, one item a line as for panel", ControlCommand::target)  \
    X(target, "target", "target TARGET set FIELD VALUE",                                                               \
      "change one of its controls: name, symbol, kind (app, tmux or\n"                                                 \
      "frontmost), bundle, app or pane (a picker's row by its tag, or a\n"                                             \
      "pane by its name as work:0.0), allow-return or press-return (on or off)",                                       \
      ControlCommand::target)                                                                                          \
    X(target, "target", "target TARGET choose-app FILE", "make the app of that desktop entry the target's",            \
      ControlCommand::target)                                                                                          \
    X(target, "target", "target TARGET refresh", "list the tmux panes again, then print the editor",                   \
      ControlCommand::target)                                                                                          \
    X(refresh, "refresh", "refresh", "list the tmux panes again and point the tmux targets at them",                   \
      ControlCommand::bare)                                                                                            \
    X(use, "use", "use TARGET", "make a saved target the active one",                                                  \
      [](const auto& a) { return ControlCommand::oneArgument(a, "target"); })                                          \
    X(reveal, "reveal", "reveal log", "show the delivery log and print its path",                                      \
      [](const auto& a) { return ControlCommand::oneOf(a, "item", {"log"}); })                                         \
    X(reveal, "reveal", "reveal inbox", "show the folder of images phones sent and print its path",                    \
      [](const auto& a) { return ControlCommand::oneOf(a, "item", {"inbox"}); })                                       \
    X(away, "away", "away", "how away access fares and the ways phones can reach this computer", ControlCommand::bare) \
    X(away, "away", "away on|off", "let approved phones reach this computer from away, or stop it",                    \
      [](const auto& a) { return ControlCommand::onOff(a, "enabled"); })                                               \
    X(away, "away", "away retry", "try the router and the public address again",                                       \
      [](const auto& a) { return ControlCommand::flag(a, "retry", "retry"); })                                         \
    X(listen, "listen", "listen on|off", "let approved phones listen to this computer, or stop them",                  \
      [](const auto& a) { return ControlCommand::onOff(a, "enabled"); })                                               \
    X(loginItem, "login-item", "login-item on|off|status",                                                             \
      "start this computer's installed host when you log in, or stop it", [](const auto& a) {                          \
          return ControlCommand::oneOf(a, "change", {"on", "off", "status"});                                          \
      })                                                                                                               \
    X(requests, "requests", "requests", "the agents' requests waiting for an answer, with the seconds left",           \
      ControlCommand::bare)                                                                                            \
    X(answer, "answer", "answer REQUEST-ID approve|deny", "answer a waiting request from this computer",               \
      ControlCommand::answer)                                                                                          \
    X(push, "push", "push", "whether alerts reach phones through the push relay", ControlCommand::bare)                \
    X(panel, "panel", "panel",                                                                                         \
      "the panel as it shows now, one item a line: section, kind and\n"                                                \
      "text, then its fields; the last line is end",                                                                   \
      ControlCommand::bare)                                                                                            \
    X(settings, "settings", "settings [--select TARGET,...]",                                                          \
      "the settings window with these targets selected, as the panel prints", ControlCommand::settings)                \
    X(show, "show", "show panel", "bring the panel up on the display",                                                 \
      [](const auto& a) { return ControlCommand::oneOf(a, "item", {"panel"}); })                                       \
    X(show, "show", "show settings [--select TARGET]",                                                                 \
      "bring the settings window up on the display, that target selected", ControlCommand::settings)                   \
    X(open, "open", "open accessibility",                                                                              \
      "check that the host can type and click; the host's log says what is missing",                                   \
      [](const auto& a) { return ControlCommand::oneOf(a, "item", {"accessibility"}); })                               \
    X(open, "open", "open screen-recording", "check that the host can capture windows, likewise",                      \
      [](const auto& a) { return ControlCommand::oneOf(a, "item", {"screen-recording"}); })                            \
    X(quit, "quit", "quit", "end the host", ControlCommand::bare)

// Every form, in the list's order.
#define QUIB_CONTROL_COMMAND_FORM(handler, name, form, does, request) ControlCommand{name, form, does, request},
inline constexpr ControlCommand controlCommands[] = {QUIB_CONTROL_COMMANDS(QUIB_CONTROL_COMMAND_FORM)};
#undef QUIB_CONTROL_COMMAND_FORM

}  // namespace quib
