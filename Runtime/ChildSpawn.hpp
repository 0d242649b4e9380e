#pragma once

// The pieces every child the host starts is made with: owned descriptors and pipes kept above
// the standard numbers, the child's start-up, and its end. Shared by the runs of one tool and the
// programs the host keeps talking to.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <utility>
#include <variant>
#include <vector>

extern char** environ;

namespace quib::childspawn {

using Steady = std::chrono::steady_clock;

// How long a child that was asked to stop gets before it is killed.
constexpr auto terminationGrace = std::chrono::seconds(1);

// One owned descriptor, closed when it goes.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        reset(std::exchange(other.fd_, -1));
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// A host whose standard descriptors are closed hands out 0, 1 and 2 again. The child's
// descriptors are laid out onto those numbers, so ours move above them first.
int aboveStandard(int fd);

struct Pipe {
    Descriptor read;
    Descriptor write;
};
// A close-on-exec pipe, or the errno of the failure.
std::variant<Pipe, int> makePipe();

// What the child is given at its start: its standard descriptors and nothing else, a process
// group of its own, no blocked signals, and default handling of the signals the host treats
// specially (the host ignores SIGPIPE and blocks SIGINT and SIGTERM for its signal watcher).
class SpawnSetup {
public:
    SpawnSetup(int input, int output) {
        ::posix_spawn_file_actions_init(&actions_);
        ::posix_spawn_file_actions_adddup2(&actions_, input, STDIN_FILENO);
        ::posix_spawn_file_actions_adddup2(&actions_, output, STDOUT_FILENO);
        ::posix_spawn_file_actions_adddup2(&actions_, output, STDERR_FILENO);
        ::posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);

        ::posix_spawnattr_init(&attributes_);
        sigset_t none;
        ::sigemptyset(&none);
        ::posix_spawnattr_setsigmask(&attributes_, &none);
        sigset_t defaults;
        ::sigemptyset(&defaults);
        for (int signal : {SIGPIPE, SIGINT, SIGTERM}) ::sigaddset(&defaults, signal);
        ::posix_spawnattr_setsigdefault(&attributes_, &defaults);
        ::posix_spawnattr_setpgroup(&attributes_, 0);
        ::posix_spawnattr_setflags(&attributes_,
                                   POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnSetup() {
        ::posix_spawnattr_destroy(&attributes_);
        ::posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // Starts the child and sets `pid`; 0, or the errno of a failed start.
    int spawn(const std::filesystem::path& executable, const std::vector<std::string>& arguments, pid_t& pid) {
        std::vector<std::string> words{executable.string()};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        return ::posix_spawn(&pid, argv[0], &actions_, &attributes_, argv.data(), environ);
    }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};
// While it lives, a write to a pipe whose reader has gone fails with EPIPE instead of ending
// the process with SIGPIPE, whatever the process does with that signal; the signal such a write
// raises is taken back before the thread's mask is restored.
class BrokenPipeGuard {
public:
    BrokenPipeGuard() {
        ::sigemptyset(&pipe_);
        ::sigaddset(&pipe_, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
        sigset_t pending;
        ::sigpending(&pending);
        wasPending_ = ::sigismember(&pending, SIGPIPE) == 1;
    }
    ~BrokenPipeGuard() {
        sigset_t pending;
        ::sigpending(&pending);
        if (!wasPending_ && ::sigismember(&pending, SIGPIPE) == 1) {
            const timespec now{};
            while (::sigtimedwait(&pipe_, nullptr, &now) < 0 && errno == EINTR) {}
        }
        ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    BrokenPipeGuard(const BrokenPipeGuard&) = delete;
    BrokenPipeGuard& operator=(const BrokenPipeGuard&) = delete;

private:
    sigset_t pipe_;
    sigset_t previous_;
    bool wasPending_ = false;
};

// Whether the child has ended, without reaping it: while it is not reaped its pid, and so its
// process group's id, cannot be given to another process.
bool hasEnded(pid_t pid);
// Waits for the child to end, until `deadline`; looks often at first, then every 20 ms.
bool awaitEnd(pid_t pid, Steady::time_point deadline);
// The ended child's wait status.
int reap(pid_t pid);
// Asks the whole group to stop, gives it the grace period, then kills what is left of it and
// reaps the child.
void stopGroup(pid_t pid);

}  // namespace quib::childspawn
