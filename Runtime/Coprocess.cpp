#include "Runtime/Coprocess.hpp"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>

namespace quib {

using namespace childspawn;

namespace {

// Milliseconds left until `deadline`, rounded up, at least 0.
int millisecondsUntil(Coprocess::Deadline deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Steady::now());
    return static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, 60'000));
}

// Waits until `fd` is ready for `events` or the deadline passes; false at the deadline.
bool ready(int fd, short events, Coprocess::Deadline deadline) {
    while (true) {
        pollfd watched{fd, events, 0};
        const int timeout = millisecondsUntil(deadline);
        const int got = ::poll(&watched, 1, timeout);
        if (got > 0) return true;
        if (got < 0 && errno != EINTR) return true;  // the read or write that follows says why
        if (got == 0 && timeout == 0) return false;
    }
}

}  // namespace

std::variant<std::unique_ptr<Coprocess>, std::string> Coprocess::start(const std::filesystem::path& executable,
                                                                       const std::vector<std::string>& arguments) {
    const auto describe = [](int error) { return std::generic_category().message(error); };
    auto input = makePipe();
    if (auto* error = std::get_if<int>(&input)) return describe(*error);
    auto output = makePipe();
    if (auto* error = std::get_if<int>(&output)) return describe(*error);
    auto& in = std::get<Pipe>(input);
    auto& out = std::get<Pipe>(output);
    pid_t pid = -1;
    const int error = SpawnSetup(in.read.get(), out.write.get()).spawn(executable, arguments, pid);
    if (error != 0) return describe(error);
    ::fcntl(in.write.get(), F_SETFL, O_NONBLOCK);
    ::fcntl(out.read.get(), F_SETFL, O_NONBLOCK);
    return std::make_unique<Coprocess>(Passkey{}, pid, std::move(in.write), std::move(out.read));
}

Coprocess::Coprocess(Passkey, pid_t pid, Descriptor input, Descriptor output)
    : pid_(pid), input_(std::move(input)), output_(std::move(output)) {}

// Closing the input asks a program that reads it to end; one that does not is stopped.
Coprocess::~Coprocess() {
    input_.reset();
    output_.reset();
    if (awaitEnd(pid_, Steady::now() + closingGrace)) (void)reap(pid_);
    else stopGroup(pid_);
}

bool Coprocess::write(std::string_view bytes, Deadline deadline) {
    if (!input_) return false;
    BrokenPipeGuard guard;
    while (!bytes.empty()) {
        const ssize_t wrote = ::write(input_.get(), bytes.data(), bytes.size());
        if (wrote > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(wrote));
            continue;
        }
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0 && errno == EAGAIN && ready(input_.get(), POLLOUT, deadline)) continue;
        if (wrote < 0 && errno != EAGAIN) input_.reset();
        return false;
    }
    return true;
}

// Lines are given from where the last one ended; the bytes given are let go only once they are
// most of what is held, so that a read that brings many lines moves the rest once.
Coprocess::Read Coprocess::readLine(std::string& line, Deadline deadline, std::size_t limit) {
    std::size_t searched = start_;
    while (true) {
        if (const auto end = pending_.find('\n', searched); end != std::string::npos) {
            line.assign(pending_, start_, end - start_);
            start_ = end + 1;
            if (start_ * 2 >= pending_.size()) pending_.erase(0, std::exchange(start_, 0));
            return Read::line;
        }
        searched = pending_.size();
        if (pending_.size() - start_ > limit) return Read::tooLong;
        if (ended_) {
            if (pending_.size() == start_) return Read::ended;
            line.assign(pending_, start_);
            pending_.clear();
            start_ = 0;
            return Read::line;
        }
        char buffer[16384];
        const ssize_t got = ::read(output_.get(), buffer, sizeof buffer);
        if (got > 0) pending_.append(buffer, static_cast<std::size_t>(got));
        else if (got == 0 || (errno != EINTR && errno != EAGAIN)) ended_ = true;
        else if (errno == EAGAIN && !ready(output_.get(), POLLIN, deadline)) return Read::timedOut;
    }
}

}  // namespace quib
