#include "QuibHost/App/SignalWatcher.hpp"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace quib {
namespace {

sigset_t setOf(std::initializer_list<int> signals) {
    sigset_t set;
    sigemptyset(&set);
    for (int s : signals) sigaddset(&set, s);
    return set;
}

}  // namespace

void SignalWatcher::block(std::initializer_list<int> signals) {
    const sigset_t set = setOf(signals);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalWatcher::SignalWatcher(std::initializer_list<int> signals, std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal)) {
    const sigset_t set = setOf(signals);
    signalFd_ = ::signalfd(-1, &set, SFD_CLOEXEC);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (signalFd_ < 0 || stopFd_ < 0) {
        if (signalFd_ >= 0) ::close(signalFd_);
        if (stopFd_ >= 0) ::close(stopFd_);
        signalFd_ = stopFd_ = -1;
        return;
    }
    thread_.emplace("com.brenmoor.quib.host.signals", [this] { run(); });
}

SignalWatcher::~SignalWatcher() {
    if (stopFd_ >= 0) {
        const std::uint64_t one = 1;
        while (::write(stopFd_, &one, sizeof one) < 0 && errno == EINTR) {}
    }
    if (thread_) thread_->join();
    if (signalFd_ >= 0) ::close(signalFd_);
    if (stopFd_ >= 0) ::close(stopFd_);
}

void SignalWatcher::run() {
    for (;;) {
        pollfd fds[2] = {{signalFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        signalfd_siginfo info{};
        if (::read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
            onSignal_(static_cast<int>(info.ssi_signo));
    }
}

}  // namespace quib
