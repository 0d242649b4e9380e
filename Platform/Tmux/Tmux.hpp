#pragma once

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Runtime/Subprocess.hpp"

namespace quib {

// The host's whole knowledge of tmux: where the program is, every pane of every session,
// whether a pane still exists, the stable identifier behind a pane address, and a pane's working
// folder. A pane is named two ways: its identifier, "%" and a number, which lives as long as the
// pane and is what targets store; and its address (spec), session:window.pane, which people type
// and which changes when windows or panes are renumbered.
//
// A Tmux holds only where it looks for the program and how it runs it; every operation runs
// tmux afresh (through Subprocess, with a 5-second limit) and blocks its thread, so it is used
// from background queues only. The server tmux talks to is chosen by the environment
// (TMUX_TMPDIR, TMUX).
class Tmux {
public:
    struct Pane {
        std::string id;       // "%" and numeric characters
        std::string spec;     // session:window.pane
        std::string command;  // the pane's foreground command, never empty
        std::string path;     // its working folder, possibly empty
        bool operator==(const Pane&) const = default;
    };

    // Where tmux is looked for, in this order.
    static constexpr std::array<std::string_view, 3> standardPaths = {"/opt/homebrew/bin/tmux", "/usr/local/bin/tmux",
                                                                      "/usr/bin/tmux"};
    static constexpr std::chrono::seconds timeout{5};
    // The paste buffer that text deliveries go through.
    static constexpr std::string_view bufferName = "quib";
    // One pane a record: identifier|S|C|F|session:window.pane|command|folder|, where S, C and F
    // are the byte lengths of the session's name, the command and the folder, which may hold any
    // byte, a line break or a bar included; records are separated by line breaks.
    static constexpr std::string_view paneFormat =
        "#{pane_id}|#{n:session_name}|#{n:pane_current_command}|#{n:pane_current_path}|"
        "#{session_name}:#{window_index}.#{pane_index}|#{pane_current_command}|#{pane_current_path}|";

    // Runs the program found with these arguments and, when given, this standard input, within
    // the time limit.
    using Runner =
        std::function<Subprocess::Result(const std::filesystem::path& tmux, const std::vector<std::string>& arguments,
                                         std::optional<std::string_view> input)>;

    // Looks in the standard places.
    Tmux();
    // Looks in `paths`, in order, and runs tmux through `runner` (none: Subprocess::run). A
    // runner given serves runUntrimmed too, its output taken as tmux printed it.
    explicit Tmux(std::vector<std::filesystem::path> paths, Runner runner = nullptr);

    // The first of the paths that is an executable file (links followed), or none. Looked up
    // afresh on every call, so installing tmux while the host runs counts at once.
    std::optional<std::filesystem::path> executableURL() const;
    bool isAvailable() const { return executableURL().has_value(); }

    // One run of tmux, looked up afresh; none when it is not installed.
    std::optional<Subprocess::Result> run(const std::vector<std::string>& arguments,
                                          std::optional<std::string_view> input = std::nullopt) const;

    // The same, with what tmux printed kept byte for byte after a normal end, its final line
    // feeds included.
    std::optional<Subprocess::Result> runUntrimmed(const std::vector<std::string>& arguments) const;

    // Every pane of every session, in tmux's order; empty when tmux is missing, fails, times out
    // or runs no server. Lines that do not parse are logged and skipped.
    std::vector<Pane> listPanes() const;
    // The pane identifier behind an identifier or an address; none when no pane has it.
    std::optional<std::string> resolve(const std::string& spec) const;
    // Whether tmux knows a pane with this identifier now.
    bool paneExists(const std::string& id) const;
    // The pane's working folder; none on failure or when tmux reports it empty.
    std::optional<std::string> currentPath(const std::string& pane) const;

    // The pane listing's records (paneFormat), parsed. A field is read by its length, so nothing
    // in a name or a folder can end a record early or pass for another pane; a record that does
    // not parse is logged and skipped up to the next line break.
    static std::vector<Pane> parsePanes(std::string_view output);
    // session:window.pane: a non-empty session (which may hold ":") before the last ":", then two
    // non-empty runs of numeric characters joined by one ".".
    static bool isPaneSpec(std::string_view text);
    // "%" and one or more numeric characters.
    static bool isPaneID(std::string_view text);

    // Argument vectors of the commands the host runs (tmux's subcommand first).
    static std::vector<std::string> listPanesArguments();
    // The identifier of the pane an identifier or address names.
    static std::vector<std::string> paneIDArguments(const std::string& spec);
    // Whether an address names something that exists: tmux fails on an unknown window or pane.
    static std::vector<std::string> paneCheckArguments(const std::string& spec);
    static std::vector<std::string> currentPathArguments(const std::string& pane);
    // Loads standard input into the buffer "quib".
    static std::vector<std::string> loadBufferArguments();
    // Sets the buffer "quib" to `text`, for a client that cannot hand tmux a standard input.
    static std::vector<std::string> setBufferArguments(const std::string& text);
    // Pastes the buffer "quib" into the pane and deletes it; bracketed when the pane asked for it.
    static std::vector<std::string> pasteBufferArguments(const std::string& pane);
    static std::vector<std::string> submitArguments(const std::string& pane);
    // Text into a pane in one run, the text on standard input: the pane is looked up, the
    // buffer loaded, pasted and deleted. tmux stops at the first command that fails, so nothing
    // is loaded for a pane that is gone.
    static std::vector<std::string> pasteTextArguments(const std::string& pane);
    // Presses one key, by tmux's name for it.
    static std::vector<std::string> sendKeyArguments(const std::string& pane, const std::string& key);
    static std::vector<std::string> selectPaneArguments(const std::string& pane);

private:
    // The trimmed output of a successful run; none when tmux is missing or the run fails.
    std::optional<std::string> output(const std::vector<std::string>& arguments) const;

    std::vector<std::filesystem::path> paths_;
    Runner runner_;
    Runner untrimmedRunner_;
};

}  // namespace quib
