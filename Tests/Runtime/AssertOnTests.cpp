#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "Runtime/AssertOn.hpp"
#include "Runtime/MainLoop.hpp"
#include "Runtime/SerialQueue.hpp"

using namespace quib;

namespace {

// Each kind of executor, with the way to run a task on it and wait for it.
struct Runner {
    std::string name;
    std::function<std::shared_ptr<Executor>()> make;
    std::function<void(Executor&, const Task&)> runOn;
};

const Runner runners[] = {
    {"serial queue", [] { return std::make_shared<SerialQueue>("com.example.affinity"); },
     [](Executor& queue, const Task& task) { ASSERT_TRUE(static_cast<SerialQueue&>(queue).sync(task)); }},
    {"main loop", [] { return std::make_shared<MainLoop>(); },
     [](Executor& loop, const Task& task) {
         loop.post(task);
         EXPECT_EQ(static_cast<MainLoop&>(loop).runPending(), 1u);
     }},
};

}  // namespace

// A method that belongs to a queue stops the process when it is called anywhere else, and runs
// on quietly from the queue's own tasks.
TEST(AssertOnDeathTest, StopsOffTheQueueAndPassesOnIt) {
    if (!QUIB_ASSERT_QUEUES) GTEST_SKIP() << "queue affinity is checked only where assertions are";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const auto& runner : runners) {
        SCOPED_TRACE(runner.name);
        auto queue = runner.make();
        bool ran = false;
        runner.runOn(*queue, [&] {
            assertOn(*queue);
            ran = true;
        });
        EXPECT_TRUE(ran);
        EXPECT_DEATH(assertOn(*queue), "ran off its queue");
    }
    SerialQueue named("com.example.named");
    EXPECT_DEATH(assertOn(named), "TestBody ran off its queue com.example.named");
}

// Another queue's thread is not the queue's own.
TEST(AssertOnDeathTest, StopsOnAnotherQueue) {
    if (!QUIB_ASSERT_QUEUES) GTEST_SKIP() << "queue affinity is checked only where assertions are";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            SerialQueue owner("com.example.owner");
            SerialQueue other("com.example.other");
            (void)other.sync([&] { assertOn(owner); });
        },
        "ran off its queue com.example.owner");
}

// An object that holds no reference to its queue asserts it by label: any queue so labelled
// passes, the test's thread and a queue labelled otherwise stop, named by the label.
TEST(AssertOnDeathTest, ByLabelPassesOnlyOnAQueueSoLabelled) {
    if (!QUIB_ASSERT_QUEUES) GTEST_SKIP() << "queue affinity is checked only where assertions are";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    SerialQueue labelled("com.example.labelled");
    bool ran = false;
    ASSERT_TRUE(labelled.sync([&] {
        assertOnQueueLabelled("com.example.labelled");
        ran = true;
    }));
    EXPECT_TRUE(ran);
    EXPECT_DEATH(assertOnQueueLabelled("com.example.labelled"), "TestBody ran off its queue com.example.labelled");
    EXPECT_DEATH(
        {
            SerialQueue other("com.example.other");
            (void)other.sync([] { assertOnQueueLabelled("com.example.labelled"); });
        },
        "ran off its queue com.example.labelled");
}
