#include "Runtime/CancelToken.hpp"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "Runtime/FileDescriptor.hpp"

namespace quib {

struct CancelToken::State {
    std::atomic<bool> cancelled{false};
    // Written once and never read, so it stays readable.
    FileDescriptor event{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
};

CancelToken::CancelToken() : state_(std::make_shared<State>()) {}

void CancelToken::cancel() const {
    if (state_->cancelled.exchange(true)) return;
    if (!state_->event.isOpen()) return;
    const std::uint64_t one = 1;
    ssize_t written = 0;
    do {
        written = ::write(state_->event.get(), &one, sizeof one);
    } while (written < 0 && errno == EINTR);
}

bool CancelToken::isCancelled() const { return state_->cancelled.load(); }

int CancelToken::descriptor() const { return state_->event.get(); }

}  // namespace quib
