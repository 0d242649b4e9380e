#include <gtest/gtest.h>

#include <thread>

#include "Runtime/FakeClock.hpp"
#include "Runtime/MainLoop.hpp"
#include "Runtime/Published.hpp"

using namespace quib;
using namespace std::chrono_literals;

namespace {
struct Fixture {
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<MainLoop> main = std::make_shared<MainLoop>(clock);
};
}  // namespace

TEST(Published, DeliversCurrentValueFirstUnlessSkipped) {
    Fixture f;
    Published<int> value(f.main, 1);
    std::vector<int> all, skipped;
    auto a = value.subscribe([&](int v) { all.push_back(v); });
    auto b = value.subscribe([&](int v) { skipped.push_back(v); }, {.skipCurrent = true});
    value.set(2);  // from off the main loop: posted there
    EXPECT_EQ(value.value(), 1);
    f.main->runPending();
    EXPECT_EQ(value.value(), 2);
    EXPECT_EQ(all, (std::vector<int>{1, 2}));
    EXPECT_EQ(skipped, (std::vector<int>{2}));
}

TEST(Published, DropsRepeatsAndStopsWhenTheSubscriptionEnds) {
    Fixture f;
    Published<int> value(f.main, 0);
    std::vector<int> seen;
    {
        auto sub = value.subscribe([&](int v) { seen.push_back(v); }, {.skipCurrent = true, .dropRepeats = true});
        for (int v : {1, 1, 2, 2, 1}) value.set(v);
        f.main->runPending();
    }
    value.set(9);
    f.main->runPending();
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 1}));
}

TEST(Published, DebounceDeliversOnlyTheLastOfABurst) {
    Fixture f;
    Published<int> value(f.main, 0);
    std::vector<int> seen;
    auto sub = value.subscribe([&](int v) { seen.push_back(v); }, {.skipCurrent = true, .debounce = 120ms});
    value.set(1);
    value.set(2);
    f.main->runPending();
    f.clock->advance(100ms);
    value.set(3);
    f.main->runPending();
    f.clock->advance(100ms);
    f.main->runPending();
    EXPECT_TRUE(seen.empty());
    f.clock->advance(20ms);
    f.main->runPending();
    EXPECT_EQ(seen, (std::vector<int>{3}));
}

TEST(Published, SubscriptionEndedOnAnotherThreadStopsAPendingDebounce) {
    Fixture f;
    Published<int> value(f.main, 0);
    std::vector<int> seen;
    auto sub = value.subscribe([&](int v) { seen.push_back(v); }, {.skipCurrent = true, .debounce = 120ms});
    value.set(1);
    f.main->runPending();  // the debounce timer is armed
    std::thread([&sub] { sub.reset(); }).join();
    f.clock->advance(200ms);
    f.main->runPending();
    EXPECT_TRUE(seen.empty());
}

// Values set and current values delivered off the main executor wait in its queue; a queue that
// is never drained must not keep its executor alive through them.
TEST(Published, QueuedDeliveriesDoNotKeepTheExecutorAlive) {
    auto main = std::make_shared<MainLoop>();
    const std::weak_ptr<MainLoop> weak = main;
    {
        Published<int> value(main, 0);
        value.set(1);
        auto subscription = value.subscribe([](int) {});
    }
    main.reset();
    EXPECT_TRUE(weak.expired());
}
