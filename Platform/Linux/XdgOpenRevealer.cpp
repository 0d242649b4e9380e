#include "Platform/Linux/XdgOpenRevealer.hpp"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "Runtime/Logger.hpp"
#include "Runtime/Subprocess.hpp"

extern char** environ;

namespace quib {
namespace {

bool hasDisplay() {
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(variable);
        if (value && *value) return true;
    }
    return false;
}

}  // namespace

// A shell that starts xdg-open in the background and ends at once: the host reaps the shell,
// and xdg-open, orphaned, is reaped by the system. The folder reaches xdg-open as an argument,
// never as shell text.
void XdgOpenRevealer::reveal(const std::filesystem::path& file) {
    if (!hasDisplay()) return;
    const auto program = Subprocess::onPath("xdg-open", Subprocess::searchPath());
    if (!program) {
        quibLog().error("cannot show ", pub(file.string()), ": xdg-open is not installed");
        return;
    }
    std::vector<std::string> args{"/bin/sh", "-c", "\"$0\" \"$1\" </dev/null >/dev/null 2>&1 &", program->string(),
                                  file.parent_path().string()};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (const int error = ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ); error != 0) {
        quibLog().error("cannot show ", pub(file.string()), ": ", pub(std::string(std::strerror(error))));
        return;
    }
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace quib
