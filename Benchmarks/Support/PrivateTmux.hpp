#pragma once

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "Platform/Tmux/Tmux.hpp"

namespace quib::bench {

// A tmux server of the benchmark's own: TMUX_TMPDIR points at a fresh temporary folder and TMUX
// is unset, so that every tmux run of the process finds it. Killed (and its folder removed) at
// exit.
class PrivateTmux {
public:
    PrivateTmux() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quib-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) return;
        folder_ = pattern;
        ::setenv("TMUX_TMPDIR", folder_.c_str(), 1);
        ::unsetenv("TMUX");
    }
    ~PrivateTmux() {
        (void)run({"kill-server"});
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }
    PrivateTmux(const PrivateTmux&) = delete;
    PrivateTmux& operator=(const PrivateTmux&) = delete;

    // Starts the session "bench", whose one 200 × 50 pane (bench:0.0) runs `command`.
    bool startSession(const std::string& command) const {
        return !folder_.empty() && run({"new-session", "-d", "-s", "bench", "-x", "200", "-y", "50", command});
    }
    bool run(const std::vector<std::string>& arguments) const { return output(arguments).has_value(); }
    // What tmux printed; none when the run failed.
    std::optional<std::string> output(const std::vector<std::string>& arguments) const {
        auto result = tmux_.run(arguments);
        if (!result || !result->ok) return std::nullopt;
        return std::move(result->output);
    }
    const Tmux& tmux() const { return tmux_; }
    // Where the server keeps its socket; the benchmark may keep files of its own there.
    const std::filesystem::path& folder() const { return folder_; }

private:
    std::filesystem::path folder_;
    Tmux tmux_;
};

}  // namespace quib::bench
