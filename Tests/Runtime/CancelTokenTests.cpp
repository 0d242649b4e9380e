#include "Runtime/CancelToken.hpp"

#include <gtest/gtest.h>

#include <poll.h>

#include <thread>

namespace quib {
namespace {

bool readable(int fd, int timeoutMs) {
    pollfd watched{fd, POLLIN, 0};
    return ::poll(&watched, 1, timeoutMs) == 1 && (watched.revents & POLLIN) != 0;
}

TEST(CancelToken, CopiesShareOneFlagAndOneDescriptorThatTurnsReadable) {
    const CancelToken token;
    const CancelToken copy = token;
    ASSERT_GE(token.descriptor(), 0);
    EXPECT_EQ(copy, token);
    EXPECT_NE(CancelToken(), token);
    EXPECT_FALSE(copy.isCancelled());
    EXPECT_FALSE(readable(token.descriptor(), 0));

    // A wait already blocked on the descriptor wakes up.
    std::thread canceller([copy] { copy.cancel(); });
    EXPECT_TRUE(readable(token.descriptor(), 5000));
    canceller.join();
    EXPECT_TRUE(token.isCancelled());

    // It stays cancelled and readable, however often it is cancelled or polled.
    copy.cancel();
    EXPECT_TRUE(readable(token.descriptor(), 0));
    EXPECT_TRUE(readable(copy.descriptor(), 0));
}

}  // namespace
}  // namespace quib
