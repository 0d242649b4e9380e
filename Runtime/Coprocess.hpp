#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Runtime/ChildSpawn.hpp"

namespace quib {

// A program the host keeps running and talks to line by line: it writes to the program's
// standard input and reads its standard output and error (one shared pipe). The program is
// started as the tools of Subprocess are (the host's environment, no other descriptor, a process
// group of its own) and ended with its owner: its input is closed, and a program still running a
// moment later is stopped as a timed-out tool is. Used from one thread at a time.
class Coprocess {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    using Deadline = std::chrono::steady_clock::time_point;
    // How long a program whose input was closed may take to end by itself.
    static constexpr auto closingGrace = std::chrono::milliseconds(200);

    enum class Read { line, ended, timedOut, tooLong };

    // Starts `executable` with `arguments` (without the program's own name); the system's
    // description of why it did not start.
    static std::variant<std::unique_ptr<Coprocess>, std::string> start(const std::filesystem::path& executable,
                                                                       const std::vector<std::string>& arguments);

    Coprocess(Passkey, pid_t pid, childspawn::Descriptor input, childspawn::Descriptor output);
    ~Coprocess();
    Coprocess(const Coprocess&) = delete;
    Coprocess& operator=(const Coprocess&) = delete;

    // Writes all of `bytes`; false when the program stopped reading (it ended) or the deadline
    // passed first.
    bool write(std::string_view bytes, Deadline deadline);
    // The next line the program printed, without its line break. `ended`: the program closed its
    // output (a last line without a break is still given first); `timedOut`: no whole line came
    // before the deadline, and what came of one is kept for the next call; `tooLong`: more than
    // `limit` bytes came without a line break, and nothing more is read of them.
    Read readLine(std::string& line, Deadline deadline, std::size_t limit = SIZE_MAX);

private:
    pid_t pid_;
    childspawn::Descriptor input_;
    childspawn::Descriptor output_;
    std::string pending_;
    std::size_t start_ = 0;  // where the first line not yet given begins in pending_
    bool ended_ = false;
};

}  // namespace quib
