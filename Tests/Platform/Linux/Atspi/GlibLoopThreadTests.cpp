#include "Platform/Linux/Atspi/GlibLoopThread.hpp"

#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <vector>

namespace quib {
namespace {

TEST(GlibLoopThread, RunsTasksInOrderOnItsOwnThread) {
    std::mutex mutex;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    {
        GlibLoopThread loop("test.glib");
        for (int task = 0; task < 50; ++task)
            loop.post([&, task] {
                std::lock_guard lock(mutex);
                order.push_back(task);
                threads.push_back(std::this_thread::get_id());
            });
        bool ran = false;
        ASSERT_TRUE(loop.sync([&] { ran = loop.isCurrent(); }));
        EXPECT_TRUE(ran);
        std::lock_guard lock(mutex);
        EXPECT_EQ(order.size(), 50u);
    }
    for (int task = 0; task < 50; ++task) EXPECT_EQ(order[task], task);
    EXPECT_NE(threads.front(), std::this_thread::get_id());
    EXPECT_EQ(std::count(threads.begin(), threads.end(), threads.front()), 50);
}

TEST(GlibLoopThread, RunsASyncFromItsOwnThreadAtOnceAndWhatIsLeftWhenStopped) {
    bool nested = false;
    bool late = false;
    {
        GlibLoopThread loop("test.glib");
        ASSERT_TRUE(loop.sync([&] {
            EXPECT_TRUE(loop.sync([&] { nested = loop.isCurrent(); }));
            loop.post([&] { late = true; });
        }));
    }
    EXPECT_TRUE(nested);
    EXPECT_TRUE(late);
}

}  // namespace
}  // namespace quib
