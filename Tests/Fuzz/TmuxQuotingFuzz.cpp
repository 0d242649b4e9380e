// Sets tmux's buffer to the input through the control client and reads it back as tmux keeps
// it: whatever the bytes, tmux must hold exactly them, or the client must refuse to send them
// (a NUL byte, a command too long). Runs against a tmux server of the harness's own, started at
// the first input and killed at exit.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "FuzzSupport.hpp"
#include "Platform/Tmux/TmuxControl.hpp"

namespace {

using namespace quib;

class PrivateServer {
public:
    PrivateServer() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quib-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        folder_ = pattern;
        ::setenv("TMUX_TMPDIR", folder_.c_str(), 1);
        ::unsetenv("TMUX");
        const auto made = Tmux().run({"new-session", "-d", "-s", "fuzz", "cat > /dev/null"});
        if (!made || !made->ok) std::abort();
        control_ = std::make_unique<TmuxControl>();
    }
    ~PrivateServer() {
        control_.reset();
        (void)Tmux().run({"kill-server"});
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    TmuxControl& control() { return *control_; }
    std::filesystem::path saved() const { return folder_ / "buffer"; }

private:
    std::filesystem::path folder_;
    std::unique_ptr<TmuxControl> control_;
};

std::string contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silenceLog();
    static PrivateServer server;
    const std::string text(fuzz::text(data, size));
    if (text.empty()) return 0;  // tmux keeps no empty buffer
    using State = TmuxControl::Reply::State;
    const auto set = server.control().run(Tmux::setBufferArguments(text));
    const auto line = TmuxControl::commandLine(Tmux::setBufferArguments(text));
    if (!line || line->size() > TmuxControl::lineLimit) {
        fuzz::require(set.state == State::notRun && (line || text.find('\0') != std::string::npos));
        return 0;
    }
    fuzz::require(set.state == State::answered && set.ok);
    // Saved by a tmux run of its own: a control client may still be writing the file when tmux
    // reports the command done, a run has written it by the time it exits.
    const auto saved = Tmux().run({"save-buffer", "-b", "quib", server.saved().string()});
    fuzz::require(saved && saved->ok);
    fuzz::require(contents(server.saved()) == text);
    return 0;
}
