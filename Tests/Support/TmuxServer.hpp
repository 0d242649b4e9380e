#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Tmux/Tmux.hpp"
#include "Runtime/Subprocess.hpp"

namespace quib::testing {

// A tmux server of one test's own. A pane listing and the paste buffer belong to a whole
// server, and tests run in parallel, so no two tests may share one.
//
// Made before the test starts any thread: it points TMUX_TMPDIR at a fresh folder below the
// current one (the private folder of scripts/test, else the system's temporary folder) and
// unsets TMUX, so tmux and every tool the host starts find this server. Its end kills the
// server, removes the folder and puts the environment back.
class TmuxServer {
public:
    TmuxServer() {
        const char* outer = std::getenv("TMUX_TMPDIR");
        if (outer) previous_ = outer;
        if (const char* inside = std::getenv("TMUX")) previousTmux_ = inside;
        const std::filesystem::path base = outer && *outer ? outer : std::filesystem::temp_directory_path().c_str();
        std::string pattern = (base / "qt-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot make " << pattern;
        folder_ = pattern;
        ::setenv("TMUX_TMPDIR", folder_.c_str(), 1);
        ::unsetenv("TMUX");
        if (!Tmux().isAvailable()) ADD_FAILURE() << "tmux is not installed";
    }

    ~TmuxServer() {
        (void)run({"kill-server"});
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        if (previous_) ::setenv("TMUX_TMPDIR", previous_->c_str(), 1);
        else ::unsetenv("TMUX_TMPDIR");
        if (previousTmux_) ::setenv("TMUX", previousTmux_->c_str(), 1);
    }

    TmuxServer(const TmuxServer&) = delete;
    TmuxServer& operator=(const TmuxServer&) = delete;

    // tmux's trimmed output, or none when the run failed.
    std::optional<std::string> run(const std::vector<std::string>& arguments) const {
        const auto tmux = Tmux().executableURL();
        if (!tmux) return std::nullopt;
        auto result = Subprocess::run(*tmux, arguments, std::nullopt, Tmux::timeout);
        if (!result.ok) return std::nullopt;
        return result.output;
    }

    // A detached session working in `folder`, with `panes` panes in its first window
    // (session:0.0, session:0.1, ...). Returns once every pane's shell runs: until then tmux
    // knows no working folder for it.
    bool startSession(const std::string& name, const std::filesystem::path& folder, int panes = 1) const {
        if (!run({"new-session", "-d", "-s", name, "-c", folder.string(), "-x", "200", "-y", "60"})) return false;
        for (int pane = 1; pane < panes; ++pane)
            if (!run({"split-window", "-t", name + ":0", "-c", folder.string()})) return false;
        for (int pane = 0; pane < panes; ++pane)
            if (!waitForWorkingFolder(name + ":0." + std::to_string(pane))) return false;
        return true;
    }

    // Makes the pane at `spec` run a sleeping program that tmux reports as `command` (an agent's
    // name, say), keeping the pane's identifier, and waits until tmux reports it (at most 5 s).
    // Both execs matter: without the first, a shell that forks would lead the pane and be
    // reported instead; the second names the program, which only bash can do.
    bool runAs(const std::string& spec, const std::string& command) const {
        if (!run({"respawn-pane", "-k", "-t", spec, "exec bash -c 'exec -a " + command + " sleep 1000'"})) return false;
        for (int attempt = 0; attempt < 250; ++attempt) {
            if (run({"display-message", "-p", "-t", spec, "#{pane_current_command}"}) == command) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // The identifier of the pane at this address.
    std::string idOf(const std::string& spec) const {
        return run({"display-message", "-p", "-t", spec, "#{pane_id}"}).value_or("");
    }

    const std::filesystem::path& folder() const { return folder_; }

private:
    bool waitForWorkingFolder(const std::string& spec) const {
        for (int attempt = 0; attempt < 500; ++attempt) {
            if (!run({"display-message", "-p", "-t", spec, "#{pane_current_path}"}).value_or("").empty()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ADD_FAILURE() << "tmux names no working folder for " << spec;
        return false;
    }

    std::filesystem::path folder_;
    std::optional<std::string> previous_;
    std::optional<std::string> previousTmux_;
};

}  // namespace quib::testing
