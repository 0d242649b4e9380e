#include "Runtime/DescriptorWait.hpp"

#include <poll.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace quib {

DescriptorWait::Outcome DescriptorWait::until(int fd, short events, Deadline deadline, const CancelToken& cancel) {
    using namespace std::chrono_literals;
    while (true) {
        if (cancel.isCancelled()) return Outcome::cancelled;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return Outcome::timedOut;
        auto remaining = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now);
        // A token without a descriptor is looked at in slices instead.
        if (cancel.descriptor() < 0) remaining = std::min<std::chrono::nanoseconds>(remaining, 10ms);
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(remaining);
        const timespec limit{static_cast<time_t>(seconds.count()), static_cast<long>((remaining - seconds).count())};
        std::array<pollfd, 2> watched{{{fd, events, 0}, {cancel.descriptor(), POLLIN, 0}}};
        const int ready = ::ppoll(watched.data(), watched.size(), &limit, nullptr);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return Outcome::failed;
        if (watched[1].revents != 0 || cancel.isCancelled()) return Outcome::cancelled;
        if (watched[0].revents != 0) return Outcome::ready;
    }
}

}  // namespace quib
