#include "Runtime/Subprocess.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <system_error>
#include <thread>
#include <utility>
#include <variant>

#include "Runtime/ChildSpawn.hpp"
#include "Runtime/UnicodeText.hpp"

extern char** environ;

namespace quib {
namespace {

using namespace childspawn;

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

// The longest limit honoured; anything longer (or not a number) is cut to it.
constexpr double longestTimeout = 365.0 * 24 * 3600;

std::string describe(int error) { return std::generic_category().message(error); }

// The child's side of its standard input: the null device or a pipe's reading end.
struct Channels {
    Descriptor childInput;
    Descriptor childOutput;
    Descriptor input;   // ours: the tool's standard input, when input is given
    Descriptor output;  // ours: the tool's standard output and error
};

std::variant<Channels, int> makeChannels(bool withInput) {
    Channels channels;
    auto output = makePipe();
    if (auto* error = std::get_if<int>(&output)) return *error;
    channels.output = std::move(std::get<Pipe>(output).read);
    channels.childOutput = std::move(std::get<Pipe>(output).write);
    if (withInput) {
        auto input = makePipe();
        if (auto* error = std::get_if<int>(&input)) return *error;
        channels.childInput = std::move(std::get<Pipe>(input).read);
        channels.input = std::move(std::get<Pipe>(input).write);
        ::fcntl(channels.input.get(), F_SETFL, O_NONBLOCK);
    } else {
        channels.childInput = Descriptor(aboveStandard(::open("/dev/null", O_RDONLY | O_CLOEXEC)));
        if (!channels.childInput) return errno;
    }
    ::fcntl(channels.output.get(), F_SETFL, O_NONBLOCK);
    return channels;
}

// Moves the input into the tool and its output out of it, together, until the output ends or
// passes `outputLimit` (true) or the deadline passes (false).
class Exchange {
public:
    Exchange(Channels& channels, std::string_view input, std::size_t outputLimit)
        : channels_(channels), input_(input), outputLimit_(outputLimit) {
        if (input_.empty()) channels_.input.reset();
    }

    bool run(Steady::time_point deadline) {
        std::optional<BrokenPipeGuard> guard;
        if (channels_.input) guard.emplace();
        while (true) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Steady::now());
            if (left <= 0ms) return false;
            pollfd fds[2] = {{channels_.output.get(), POLLIN, 0}, {channels_.input.get(), POLLOUT, 0}};
            const nfds_t count = channels_.input ? 2 : 1;
            const int ready = ::poll(fds, count, static_cast<int>(std::min<std::int64_t>(left.count(), 60'000)));
            if (ready < 0 && errno != EINTR) return false;
            if (ready <= 0) continue;
            if (count == 2 && fds[1].revents != 0) feed();
            if (fds[0].revents != 0 && drain()) return true;
        }
    }

    std::string& output() { return output_; }
    // The output went on past the limit; `output` holds the bytes up to it.
    bool wasCut() const { return cut_; }

private:
    // Writes what the pipe takes now; on any failure (the tool closed its input, or exited)
    // the rest of the input is dropped.
    void feed() {
        const ssize_t wrote = ::write(channels_.input.get(), input_.data() + written_, input_.size() - written_);
        if (wrote < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (wrote < 0) {
            channels_.input.reset();
            return;
        }
        written_ += static_cast<std::size_t>(wrote);
        if (written_ == input_.size()) channels_.input.reset();
    }

    // Reads what is there; true once the output has ended or gone past the limit. Reading one
    // byte past the limit tells an output that goes on from one that ends right there.
    bool drain() {
        char buffer[65536];
        while (true) {
            const std::size_t left = outputLimit_ - output_.size();
            const ssize_t got = ::read(channels_.output.get(), buffer, left < sizeof buffer ? left + 1 : sizeof buffer);
            if (got > 0) {
                output_.append(buffer, static_cast<std::size_t>(got));
                if (output_.size() <= outputLimit_) continue;
                output_.resize(outputLimit_);
                cut_ = true;
                return true;
            }
            if (got < 0 && errno == EINTR) continue;
            if (got < 0 && errno == EAGAIN) return false;
            return true;  // end of file, or a read error that ends the output all the same
        }
    }

    Channels& channels_;
    std::string_view input_;
    std::size_t written_ = 0;
    std::size_t outputLimit_;
    std::string output_;
    bool cut_ = false;
};

std::string timedOut(const std::filesystem::path& executable, double seconds) {
    return executable.filename().string() + " timed out after " + std::to_string(static_cast<long long>(seconds)) + "s";
}

// In the forked child, which must only make async-signal-safe calls: a session of its own with
// no terminal, every signal at its default and none blocked, the null device for its standard
// descriptors and no other descriptor but `report`, which closes on exec. Writes the errno of a
// failure to `report`.
[[noreturn]] void becomeDetached(const char* path, char* const* argv, int null, int report) {
    int error = 0;
    if (::setsid() < 0) error = errno;
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) ::sigaction(signal, &defaults, nullptr);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::dup2(null, fd) < 0) error = errno;
    }
    ::close_range(STDERR_FILENO + 1, static_cast<unsigned>(report) - 1, 0);
    ::close_range(static_cast<unsigned>(report) + 1, ~0U, 0);
    if (error == 0) {
        ::execve(path, argv, environ);
        error = errno;
    }
    (void)!::write(report, &error, sizeof error);
    ::_exit(127);
}

std::string decoded(std::string bytes, Subprocess::Ends ends) {
    if (!unicode::isValidUtf8(bytes)) return "";
    if (ends == Subprocess::Ends::kept) return bytes;
    return std::string(unicode::trimWhiteSpace(bytes));
}

}  // namespace

Subprocess::Result Subprocess::run(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                                   std::optional<std::string_view> input, std::chrono::duration<double> timeout,
                                   Ends ends) {
    // The texts of a failed start and of a time-out are UTF-8 already and need no trimming.
    auto result = runBytes(executable, arguments, input, timeout);
    result.output = decoded(std::move(result.output), ends);
    return result;
}

Subprocess::Result Subprocess::runBytes(const std::filesystem::path& executable,
                                        const std::vector<std::string>& arguments,
                                        std::optional<std::string_view> input, std::chrono::duration<double> timeout,
                                        std::size_t outputLimit) {
    const double seconds =
        std::isfinite(timeout.count()) ? std::clamp(timeout.count(), 0.0, longestTimeout) : longestTimeout;
    const auto deadline =
        Steady::now() + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(seconds));

    auto made = makeChannels(input.has_value());
    if (auto* error = std::get_if<int>(&made)) return {false, describe(*error)};
    auto& channels = std::get<Channels>(made);
    SpawnSetup setup(channels.childInput.get(), channels.childOutput.get());
    pid_t pid = -1;
    const int error = setup.spawn(executable, arguments, pid);
    channels.childInput.reset();
    channels.childOutput.reset();
    if (error != 0) return {false, describe(error)};

    Exchange exchange(channels, input.value_or(std::string_view()), outputLimit);
    const bool outputEnded = exchange.run(deadline);
    // A tool that closed its output while still reading sees the end of its input now.
    channels.input.reset();
    if (exchange.wasCut()) {
        // A tool still writing meets the closed pipe; one that goes on regardless is stopped.
        channels.output.reset();
        stopGroup(pid);
        return {false, std::move(exchange.output()), true};
    }
    if (!outputEnded || !awaitEnd(pid, deadline)) {
        stopGroup(pid);
        return {false, timedOut(executable, seconds)};
    }
    const int status = reap(pid);
    const bool exitedZero = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return {exitedZero, std::move(exchange.output())};
}

// Forks twice: the middle child ends at once and is reaped here, so the program, orphaned, is
// the system's to reap. Whether it started shows on a close-on-exec pipe: closed by a successful
// exec, or carrying the errno of what failed.
std::optional<std::string> Subprocess::startDetached(const std::filesystem::path& executable,
                                                     const std::vector<std::string>& arguments) {
    std::vector<std::string> words = arguments;
    if (words.empty()) words.push_back(executable.string());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string path = executable.string();

    auto made = makePipe();
    if (auto* error = std::get_if<int>(&made)) return describe(*error);
    auto& report = std::get<Pipe>(made);
    Descriptor null(aboveStandard(::open("/dev/null", O_RDWR | O_CLOEXEC)));
    if (!null) return describe(errno);
    const pid_t middle = ::fork();
    if (middle < 0) return describe(errno);
    if (middle == 0) {
        const pid_t program = ::fork();
        if (program == 0) becomeDetached(path.c_str(), argv.data(), null.get(), report.write.get());
        ::_exit(program < 0 ? 1 : 0);
    }
    report.write.reset();
    const int status = reap(middle);
    int error = 0;
    ssize_t got = 0;
    while ((got = ::read(report.read.get(), &error, sizeof error)) < 0 && errno == EINTR) {}
    if (got == static_cast<ssize_t>(sizeof error)) return describe(error);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "the program could not be started";
    return std::nullopt;
}

namespace {

bool isExecutableFile(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::optional<std::filesystem::path> Subprocess::firstExecutable(const std::vector<std::filesystem::path>& paths) {
    for (const auto& path : paths)
        if (isExecutableFile(path)) return path;
    return std::nullopt;
}

std::optional<std::filesystem::path> Subprocess::onPath(std::string_view name, std::string_view searchPath) {
    if (name.empty()) return std::nullopt;
    if (name.find('/') != std::string_view::npos) {
        const std::filesystem::path path(name);
        return isExecutableFile(path) ? std::optional(path) : std::nullopt;
    }
    while (!searchPath.empty()) {
        const auto end = searchPath.find(':');
        const auto folder = searchPath.substr(0, end);
        searchPath = end == std::string_view::npos ? std::string_view() : searchPath.substr(end + 1);
        if (folder.empty()) continue;
        const auto candidate = std::filesystem::path(folder) / name;
        if (isExecutableFile(candidate)) return candidate;
    }
    return std::nullopt;
}

std::string Subprocess::searchPath() {
    const char* path = std::getenv("PATH");
    return path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
}

}  // namespace quib
