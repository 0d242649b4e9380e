#include "QuibHost/Interface/QtMainExecutor.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <atomic>
#include <map>
#include <thread>
#include <vector>

namespace quib {
namespace {

// Runs the event loop until `done` has been posted and run, or for at most five seconds.
void runUntilQuit(QtMainExecutor& executor) {
    executor.postAfter(std::chrono::seconds(5), [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
}

TEST(QtMainExecutor, PostsFromManyThreadsRunOnTheMainThreadEachInItsOrder) {
    QtMainExecutor executor;
    std::map<int, std::vector<int>> seen;
    bool allOnMain = true;
    std::atomic<int> finished = 0;
    // Posted before the loop runs: it runs once it does.
    bool early = false;
    executor.post([&] { early = true; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                executor.post([&, t, i] {
                    allOnMain = allOnMain && executor.isCurrent();
                    seen[t].push_back(i);
                });
            }
            executor.post([&] {
                if (++finished == 4) QCoreApplication::quit();
            });
        });
    }
    EXPECT_TRUE(executor.isCurrent());
    runUntilQuit(executor);
    for (auto& thread : threads) thread.join();
    EXPECT_TRUE(early);
    EXPECT_TRUE(allOnMain);
    ASSERT_EQ(seen.size(), 4u);
    for (const auto& [thread, order] : seen) {
        ASSERT_EQ(order.size(), 500u) << thread;
        for (int i = 0; i < 500; ++i) EXPECT_EQ(order[i], i) << thread;
    }
    std::thread([&] { EXPECT_FALSE(executor.isCurrent()); }).join();
}

TEST(QtMainExecutor, ACancelledDelayedPostNeverRuns) {
    QtMainExecutor executor;
    std::vector<std::string> ran;
    auto cancelledEarly = executor.postAfter(std::chrono::milliseconds(1), [&] { ran.push_back("early"); });
    cancelledEarly.cancel();
    Cancellable cancelledArmed;
    executor.post(
        [&] { cancelledArmed = executor.postAfter(std::chrono::milliseconds(30), [&] { ran.push_back("armed"); }); });
    executor.postAfter(std::chrono::milliseconds(10), [&] { cancelledArmed.cancel(); });
    executor.postAfter(std::chrono::milliseconds(20), [&] { ran.push_back("kept"); });
    executor.postAfter(std::chrono::milliseconds(80), [] { QCoreApplication::quit(); });
    runUntilQuit(executor);
    EXPECT_EQ(ran, std::vector<std::string>{"kept"});
}

// Once closed, a post is dropped where it is made, and what was queued is destroyed unrun.
TEST(QtMainExecutor, PostsAfterClosingAreDropped) {
    auto executor = std::make_shared<QtMainExecutor>();
    auto witness = std::make_shared<int>(0);
    executor->post([witness] { ++*witness; });
    executor->postAfter(std::chrono::milliseconds(1), [witness] { ++*witness; });
    executor->close();
    EXPECT_EQ(witness.use_count(), 1);
    std::thread([&] { executor->post([witness] { ++*witness; }); }).join();
    executor->post([witness] { ++*witness; });
    (void)executor->postAfter(std::chrono::milliseconds(1), [witness] { ++*witness; });
    EXPECT_EQ(witness.use_count(), 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(*witness, 0);
}

}  // namespace
}  // namespace quib
