#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quib {

// Runs one command-line tool to its end and says whether it succeeded and what it printed, or
// starts an application and leaves it running. It is the only way the host starts other
// programs (tmux, git, the apps it launches). Running a tool blocks its thread until the tool
// ends or its time limit runs out, so it belongs on background queues, never on the main loop.
//
// The tool inherits the host's environment (so TMUX_TMPDIR and TMUX choose the tmux server)
// and no descriptor besides its standard input, output and error. It runs in a process group
// of its own, with no signal blocked and SIGPIPE, SIGINT and SIGTERM at their defaults, so a
// time-out can end it together with anything it started.
class Subprocess {
public:
    struct Result {
        // The tool started, ended within the limit, and its exit status was 0.
        bool ok = false;
        // After a normal end: standard output and standard error as written (one shared pipe),
        // trimmed of white space at both ends unless asked otherwise, or "" when the bytes are
        // not UTF-8. After a
        // failed start: the system's description of the error. After a time-out:
        // "<tool> timed out after <whole seconds>s".
        std::string output;
        // The tool printed more than the output limit: `output` holds its first bytes up to the
        // limit, the rest was never read, the tool was stopped and `ok` is false.
        bool cut = false;
        bool operator==(const Result&) const = default;
    };

    // What becomes of the white space at both ends of what a tool printed.
    enum class Ends { trimmed, kept };

    Subprocess() = delete;

    // Runs `executable` (a path) with `arguments` (without the tool's own name). With `input`,
    // the tool reads exactly those bytes, then end-of-file; without, it reads the null device.
    // Input and output move together, so a tool that echoes a large input cannot deadlock; a
    // tool that stops reading simply loses the rest of its input.
    //
    // `timeout` bounds the whole run: the output's end and the exit that follows. When it runs
    // out, the tool's process group gets SIGTERM, and SIGKILL at most a second later; the tool is
    // reaped before the call returns.
    //
    // With `ends` kept, the output is the tool's bytes as written, line feeds at its end
    // included, for a caller to which they mean something (a pane's blank last rows).
    static Result run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                      std::optional<std::string_view> input, std::chrono::duration<double> timeout,
                      Ends ends = Ends::trimmed);
    // The same, but after a normal end `output` holds the bytes exactly as written, neither
    // checked as UTF-8 nor trimmed, for a caller that sorts out the lines it can read. At most
    // `outputLimit` bytes are kept: a tool that prints more is stopped there, as at a time-out,
    // and its result is `cut`, so that a listing of unforeseen size costs no more than that.
    static Result runBytes(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                           std::optional<std::string_view> input, std::chrono::duration<double> timeout,
                           std::size_t outputLimit = SIZE_MAX);

    // Starts `executable` with `arguments` (the program's own name first) and returns once it
    // runs, without waiting for it to end: none, or the system's description of why it did not
    // start. The program inherits the host's environment but nothing else of it: it runs in a
    // session of its own, with every signal at its default and none blocked, and the null device
    // as its standard input, output and error. The host never becomes its parent, so it leaves
    // no zombie behind.
    static std::optional<std::string> startDetached(const std::filesystem::path& executable,
                                                    const std::vector<std::string>& arguments);

    // The first executable file called `name` in the folders of `searchPath` (":"-separated,
    // empty folders skipped); a name holding "/" is taken as a path and only checked.
    static std::optional<std::filesystem::path> onPath(std::string_view name, std::string_view searchPath);
    // The first of `paths` that is an executable file (links followed), or none.
    static std::optional<std::filesystem::path> firstExecutable(const std::vector<std::filesystem::path>& paths);
    // $PATH, or the usual folders when it is unset or empty.
    static std::string searchPath();
};

}  // namespace quib
