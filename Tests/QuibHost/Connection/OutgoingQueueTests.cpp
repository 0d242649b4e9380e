#include <gtest/gtest.h>

#include "QuibHost/Connection/OutgoingQueue.hpp"

using namespace quib;

TEST(OutgoingQueue, WritesOneItemAtATimeInOrder) {
    OutgoingQueue queue;
    EXPECT_TRUE(queue.push({"a\n", false}));  // idle: caller starts writing
    const std::string* inFlight = &queue.front().bytes;
    EXPECT_FALSE(queue.push({"b\n", false}));  // busy: waits its turn
    EXPECT_FALSE(queue.push({"c\n", true}));
    EXPECT_EQ(inFlight, &queue.front().bytes);  // the bytes being written do not move
    EXPECT_EQ(queue.queuedBytes(), 6u);
    EXPECT_EQ(queue.pop().bytes, "a\n");
    EXPECT_EQ(queue.pop().bytes, "b\n");
    const auto last = queue.pop();
    EXPECT_EQ(last.bytes, "c\n");
    EXPECT_TRUE(last.closeAfter);
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(queue.queuedBytes(), 0u);
    EXPECT_TRUE(queue.push({"", true}));
}
