#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Runtime/Clock.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/MainLoop.hpp"
#include "Runtime/RunSynchronously.hpp"
#include "Runtime/SerialQueue.hpp"

using namespace quib;
using namespace std::chrono_literals;

TEST(SerialQueue, RunsTasksInOrderOnOneThread) {
    SerialQueue queue("test");
    std::vector<int> order;
    std::thread::id worker;
    bool sameThread = true;
    for (int i = 0; i < 100; ++i)
        queue.post([&, i] {
            if (i == 0) worker = std::this_thread::get_id();
            sameThread = sameThread && worker == std::this_thread::get_id() && queue.isCurrent();
            order.push_back(i);
        });
    ASSERT_TRUE(queue.sync([] {}));
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
    EXPECT_TRUE(sameThread);
    EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueue, SyncOnItsOwnThreadRunsAtOnce) {
    SerialQueue queue("test");
    std::vector<std::string> order;
    ASSERT_TRUE(queue.sync([&] {
        queue.post([&] { order.push_back("posted"); });
        EXPECT_TRUE(queue.sync([&] { order.push_back(queue.isCurrent() ? "inline" : "elsewhere"); }));
    }));
    EXPECT_TRUE(queue.sync([] {}));
    EXPECT_EQ(order, (std::vector<std::string>{"inline", "posted"}));
}

// A queue that throws away what it is handed, as one that has shut down does.
struct DroppingQueue {
    void post(std::function<void()> task) { task = nullptr; }
    bool isCurrent() const { return false; }
};

TEST(RunSynchronously, ATaskTheQueueDropsEndsTheWaitWithFalse) {
    DroppingQueue queue;
    bool ran = false;
    EXPECT_FALSE(runSynchronously(queue, [&] { ran = true; }));
    EXPECT_FALSE(ran);
}

TEST(SerialQueue, LastOwnerLettingGoInsideATaskDoesNotJoinItself) {
    auto queue = std::make_shared<SerialQueue>("self-owned");
    std::promise<void> go;
    auto laterTaskRan = std::make_shared<std::promise<void>>();
    queue->post([owner = queue, ready = go.get_future().share()]() mutable {
        ready.wait();
        owner.reset();  // the last reference: the queue is destroyed on its own worker
    });
    queue->post([laterTaskRan] { laterTaskRan->set_value(); });
    queue.reset();
    go.set_value();
    // What was queued behind the task still runs on the worker once it is let go.
    EXPECT_EQ(laterTaskRan->get_future().wait_for(10s), std::future_status::ready);
}

// Only a queue's worker runs under its label, the whole label and no other; it still does for
// what is queued behind the task in which the queue's last owner let go.
TEST(SerialQueue, ItsWorkerAloneRunsUnderItsLabelEvenOnceTheQueueIsGone) {
    const std::string label = "com.example.labelled";
    EXPECT_FALSE(SerialQueue::isCurrentLabelled(label));
    SerialQueue other("com.example.other");
    bool onOther = true;
    ASSERT_TRUE(other.sync([&] { onOther = SerialQueue::isCurrentLabelled(label); }));
    EXPECT_FALSE(onOther);

    auto queue = std::make_shared<SerialQueue>(label);
    std::vector<bool> seen;
    ASSERT_TRUE(queue->sync([&] {
        for (const char* asked : {"com.example.labelled", "com.example.other", "com.example", ""})
            seen.push_back(SerialQueue::isCurrentLabelled(asked));
    }));
    EXPECT_EQ(seen, (std::vector<bool>{true, false, false, false}));

    std::promise<void> go;
    auto behind = std::make_shared<std::promise<bool>>();
    auto answer = behind->get_future();
    queue->post([owner = queue, ready = go.get_future().share()]() mutable {
        ready.wait();
        owner.reset();
    });
    queue->post([behind, label] { behind->set_value(SerialQueue::isCurrentLabelled(label)); });
    queue.reset();
    go.set_value();
    ASSERT_EQ(answer.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(answer.get());
}

TEST(SerialQueue, PostAfterFollowsTheInjectedClockAndCanBeCancelled) {
    auto clock = std::make_shared<FakeClock>();
    SerialQueue queue("timers", clock);
    std::atomic<int> fired{0};
    queue.postAfter(2s, [&] { fired += 1; });
    auto cancelled = queue.postAfter(1s, [&] { fired += 100; });
    cancelled.cancel();
    clock->advance(1500ms);
    ASSERT_TRUE(queue.sync([] {}));
    EXPECT_EQ(fired.load(), 0);
    clock->advance(500ms);
    ASSERT_TRUE(queue.sync([] {}));
    EXPECT_EQ(fired.load(), 1);
}

TEST(SerialQueue, TimerFiringAfterTheQueueIsGoneDoesNothing) {
    auto clock = std::make_shared<FakeClock>();
    bool ran = false;
    {
        SerialQueue queue("short-lived", clock);
        queue.postAfter(1s, [&] { ran = true; });
    }
    clock->advance(2s);
    EXPECT_FALSE(ran);
}

TEST(MainLoop, RunPendingAndRunUntilQuit) {
    auto clock = std::make_shared<FakeClock>();
    MainLoop loop(clock);
    std::vector<int> order;
    loop.post([&] {
        order.push_back(1);
        EXPECT_TRUE(loop.isCurrent());
        loop.post([&] { order.push_back(2); });
    });
    EXPECT_FALSE(loop.isCurrent());
    EXPECT_EQ(loop.runPending(), 2u);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));

    loop.postAfter(5s, [&] { order.push_back(3); });
    clock->advance(5s);
    std::thread quitter([&] { loop.post([&] { loop.quit(); }); });
    loop.run();
    quitter.join();
    EXPECT_EQ(order.back(), 3);
}

// The clock's thread is woken only for a timer due before every other; one set behind a later
// timer, or behind an earlier one, still fires at its own deadline.
TEST(SystemClock, TimersFireInDeadlineOrderWhicheverWasSetFirst) {
    SystemClock clock;
    std::this_thread::sleep_for(50ms);  // its thread waits for a first timer by now
    std::mutex mutex;
    std::vector<std::string> fired;
    std::promise<void> done;
    const auto note = [&](std::string name, bool last = false) {
        return [&, name, last] {
            std::lock_guard lock(mutex);
            fired.push_back(name);
            if (last) done.set_value();
        };
    };
    auto never = clock.scheduleAfter(1h, note("an hour"));
    const MonoTime start = clock.now();
    clock.scheduleAfter(150ms, note("third", true));
    clock.scheduleAfter(100ms, note("second"));
    clock.scheduleAfter(50ms, note("first"));
    clock.scheduleAfter(120ms, note("between"));
    ASSERT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
    EXPECT_GE(clock.now() - start, 150ms);
    never.cancel();
    std::lock_guard lock(mutex);
    EXPECT_EQ(fired, (std::vector<std::string>{"first", "second", "between", "third"}));
}

TEST(FakeClock, FiresTimersInDeadlineOrderWithTimeAtEachDeadline) {
    FakeClock clock;
    const MonoTime start = clock.now();
    std::vector<std::pair<int, Duration>> fired;
    clock.scheduleAfter(3s, [&] { fired.emplace_back(3, clock.now() - start); });
    clock.scheduleAfter(1s, [&] {
        fired.emplace_back(1, clock.now() - start);
        clock.scheduleAfter(1s, [&] { fired.emplace_back(2, clock.now() - start); });
    });
    clock.advance(10s);
    ASSERT_EQ(fired.size(), 3u);
    EXPECT_EQ(fired[0], std::make_pair(1, Duration(1s)));
    EXPECT_EQ(fired[1], std::make_pair(2, Duration(2s)));
    EXPECT_EQ(fired[2], std::make_pair(3, Duration(3s)));
    EXPECT_EQ(clock.now() - start, Duration(10s));
}

TEST(FakeClock, DatesCountFrom2001) {
    EXPECT_DOUBLE_EQ(secondsSince2001(WallTime(std::chrono::seconds(978'307'200))), 0.0);
    EXPECT_DOUBLE_EQ(secondsSince2001(wallTimeFromSecondsSince2001(12345.5)), 12345.5);
}

TEST(FakeClock, DatesBeyondRangeClampInsteadOfOverflowing) {
    EXPECT_EQ(wallTimeFromSecondsSince2001(1e300), WallTime::max());
    EXPECT_EQ(wallTimeFromSecondsSince2001(-1e300), WallTime::min());
    EXPECT_EQ(wallTimeFromSecondsSince2001(std::numeric_limits<double>::infinity()), WallTime::max());
    EXPECT_EQ(wallTimeFromSecondsSince2001(std::numeric_limits<double>::quiet_NaN()),
              WallTime(std::chrono::seconds(978'307'200)));
    EXPECT_DOUBLE_EQ(secondsSince2001(wallTimeFromSecondsSince2001(-3.25e9)), -3.25e9);
}
