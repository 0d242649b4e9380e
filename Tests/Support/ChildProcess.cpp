#include "Tests/Support/ChildProcess.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quib::testing {

namespace {

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& overrides,
                                           const std::vector<std::string>& unset) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry; ++entry) {
        std::string_view text(*entry);
        auto name = std::string(text.substr(0, text.find('=')));
        if (!overrides.contains(name) && std::find(unset.begin(), unset.end(), name) == unset.end()) {
            result.emplace_back(text);
        }
    }
    for (const auto& [name, value] : overrides) result.push_back(name + "=" + value);
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

}  // namespace

std::optional<ChildProcess> ChildProcess::start(const std::vector<std::string>& arguments,
                                                const std::map<std::string, std::string>& environment,
                                                const std::filesystem::path& stderrFile,
                                                const std::vector<std::string>& unset) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return std::nullopt;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]), close(in[1]);
        return std::nullopt;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);

    std::vector<std::string> args = arguments;
    std::vector<std::string> env = mergedEnvironment(environment, unset);
    auto argv = pointers(args);
    auto envp = pointers(env);
    pid_t pid = -1;
    int status = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    if (status != 0) {
        close(in[1]), close(out[0]);
        return std::nullopt;
    }
    return ChildProcess(pid, in[1], out[0]);
}

ChildProcess::ChildProcess(pid_t pid, int input, int output) : pid_(pid), input_(input), outputFd_(output) {
    std::signal(SIGPIPE, SIG_IGN);  // a child that exits must not take the test with it
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      input_(std::exchange(other.input_, -1)),
      outputFd_(std::exchange(other.outputFd_, -1)),
      output_(std::move(other.output_)),
      consumed_(other.consumed_),
      status_(other.status_) {}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !status_) {
        kill(pid_, SIGKILL);
        (void)wait(std::chrono::seconds(10));
    }
    if (input_ >= 0) close(input_);
    if (outputFd_ >= 0) close(outputFd_);
}

bool ChildProcess::write(std::string_view text) {
    while (!text.empty()) {
        ssize_t n = ::write(input_, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool ChildProcess::fill(std::chrono::milliseconds timeout) {
    pollfd entry{outputFd_, POLLIN, 0};
    int ready = ::poll(&entry, 1, static_cast<int>(timeout.count()));
    if (ready <= 0) return true;
    char buffer[4096];
    ssize_t n = ::read(outputFd_, buffer, sizeof buffer);
    if (n <= 0) return n < 0 && errno == EINTR;
    output_.append(buffer, static_cast<std::size_t>(n));
    return true;
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto end = output_.find('\n', consumed_);
        if (end != std::string::npos) {
            std::string line = output_.substr(consumed_, end - consumed_);
            consumed_ = end + 1;
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !fill(left)) return std::nullopt;
    }
}

bool ChildProcess::readUntil(std::string_view text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (output_.find(text) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !fill(left)) return false;
    }
    return true;
}

void ChildProcess::signal(int number) {
    if (pid_ > 0 && !status_) kill(pid_, number);
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
    if (status_ || pid_ <= 0) return status_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int raw = 0;
        pid_t done = waitpid(pid_, &raw, WNOHANG);
        if (done == pid_) {
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            return status_;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace quib::testing
