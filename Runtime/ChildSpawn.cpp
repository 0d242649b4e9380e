#include "Runtime/ChildSpawn.hpp"

#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace quib::childspawn {

using namespace std::chrono_literals;

int aboveStandard(int fd) {
    if (fd < 0 || fd > STDERR_FILENO) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int error = errno;
    ::close(fd);
    errno = error;
    return moved;
}

std::variant<Pipe, int> makePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return errno;
    Pipe pipe{Descriptor(aboveStandard(fds[0])), Descriptor(-1)};
    if (!pipe.read) {
        const int error = errno;
        ::close(fds[1]);
        return error;
    }
    pipe.write = Descriptor(aboveStandard(fds[1]));
    if (!pipe.write) return errno;
    return pipe;
}

bool hasEnded(pid_t pid) {
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) < 0) {
        if (errno != EINTR) return true;  // not our child any more: nothing to wait for
    }
    return info.si_pid != 0;
}

bool awaitEnd(pid_t pid, Steady::time_point deadline) {
    auto pause = std::chrono::microseconds(100);
    while (!hasEnded(pid)) {
        const auto now = Steady::now();
        if (now >= deadline) return false;
        std::this_thread::sleep_for(std::min<Steady::duration>(pause, deadline - now));
        pause = std::min<std::chrono::microseconds>(pause * 2, 20ms);
    }
    return true;
}

int reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return status;
}

void stopGroup(pid_t pid) {
    ::kill(-pid, SIGTERM);
    awaitEnd(pid, Steady::now() + terminationGrace);
    ::kill(-pid, SIGKILL);
    (void)reap(pid);
}

}  // namespace quib::childspawn
