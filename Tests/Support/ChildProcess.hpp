#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace quib::testing {

// A child process for tests: its standard input and output are pipes, its
// standard error goes to a file. The destructor kills and reaps a child still running.
class ChildProcess {
public:
    // Starts `arguments[0]` (a path, or a name looked up in PATH) with the current environment
    // plus `environment`, less the variables named in `unset`. Returns nothing when the program
    // cannot be started.
    static std::optional<ChildProcess> start(const std::vector<std::string>& arguments,
                                             const std::map<std::string, std::string>& environment,
                                             const std::filesystem::path& stderrFile,
                                             const std::vector<std::string>& unset = {});

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ~ChildProcess();

    // Writes to the child's standard input.
    bool write(std::string_view text);
    // The next line of the child's standard output, or nothing when none came in time or the
    // output ended.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);
    // Everything the child printed so far and up to `timeout` more, until `text` shows up.
    bool readUntil(std::string_view text, std::chrono::milliseconds timeout);
    // All output read so far.
    const std::string& output() const { return output_; }

    void signal(int number);
    pid_t pid() const { return pid_; }
    // The exit status once the child has ended (128 + signal for a killed child), or nothing
    // when it still runs after `timeout`.
    std::optional<int> wait(std::chrono::milliseconds timeout);

private:
    ChildProcess(pid_t pid, int input, int output);
    // Reads what is available within `timeout`; false once the output has ended.
    bool fill(std::chrono::milliseconds timeout);

    pid_t pid_ = -1;
    int input_ = -1;
    int outputFd_ = -1;
    std::string output_;
    std::size_t consumed_ = 0;  // bytes of output_ already returned by readLine
    std::optional<int> status_;
};

}  // namespace quib::testing
