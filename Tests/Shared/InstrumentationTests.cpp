#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "Runtime/Clock.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/Settings.hpp"
#include "Shared/Instrumentation.hpp"

using namespace std::chrono_literals;

namespace {

// A clock that can hold the next call to now() until another thread lets it go (or a short
// while passes, for when the other thread cannot get there before the held call returns).
class GatedClock final : public quib::Clock {
public:
    quib::MonoTime now() const override {
        std::unique_lock lock(mutex_);
        const quib::MonoTime value = now_;
        if (armed_) {
            armed_ = false;
            held_ = true;
            changed_.notify_all();
            changed_.wait_for(lock, 100ms, [&] { return released_; });
        }
        return value;
    }
    quib::WallTime wallNow() const override { return {}; }
    quib::Cancellable schedule(quib::MonoTime, std::function<void()>) override { return {}; }

    void advance(quib::Duration by) {
        std::lock_guard lock(mutex_);
        now_ += by;
    }
    void holdNextCall() {
        std::lock_guard lock(mutex_);
        armed_ = true;
        held_ = released_ = false;
    }
    void waitUntilHeld() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return held_; });
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    quib::MonoTime now_{std::chrono::hours(1)};
    mutable bool armed_ = false;
    mutable bool held_ = false;
    bool released_ = false;
};

class Instrumentation : public ::testing::Test {
protected:
    void SetUp() override {
        previousSink = quib::Logger::setSink(sink);
        (void)settings->setBool(quib::Instrumentation::enabledKey, true);
    }
    void TearDown() override { quib::Logger::setSink(previousSink); }

    std::vector<std::string> lines() const { return sink->lines(); }

    std::shared_ptr<quib::CapturingLogSink> sink = std::make_shared<quib::CapturingLogSink>();
    std::shared_ptr<quib::LogSink> previousSink;
    std::shared_ptr<quib::Settings> settings = quib::Settings::inMemory();
    std::shared_ptr<quib::FakeClock> clock = std::make_shared<quib::FakeClock>();
};

using Lines = std::vector<std::string>;

}  // namespace

TEST_F(Instrumentation, OffUnlessSwitchedOnAndSwitchIsStored) {
    (void)settings->remove(quib::Instrumentation::enabledKey);
    quib::Instrumentation timing(clock, settings);
    EXPECT_FALSE(timing.isEnabled());
    timing.recordMoveArrival();
    timing.add("x", 5);
    clock->advance(3ms);
    timing.recordMoveArrival();
    clock->advance(2s);
    timing.record("x", timing.uptimeNanos());
    timing.flushIfWindowElapsed();
    EXPECT_TRUE(lines().empty());

    timing.setEnabled(true);
    EXPECT_EQ(settings->boolean(quib::Instrumentation::enabledKey), true);
    EXPECT_TRUE(quib::Instrumentation(clock, settings).isEnabled());
}

TEST_F(Instrumentation, OneSampleReportsTheSameValueEverywhere) {
    quib::Instrumentation timing(clock, settings);
    const std::uint64_t start = timing.uptimeNanos();
    clock->advance(1500ns);
    timing.record("solo", start);
    EXPECT_TRUE(lines().empty());  // the window has not run out yet
    clock->advance(1s);
    timing.flushIfWindowElapsed();
    EXPECT_EQ(lines(), (Lines{"[perf] solo n=1 mean=1.5us p50=1.5us p95=1.5us max=1.5us"}));
    ASSERT_EQ(sink->records().size(), 1u);
    EXPECT_EQ(sink->records()[0].category, "perf");
}

TEST_F(Instrumentation, PercentilesPickTheDocumentedIndices) {
    quib::Instrumentation timing(clock, settings);
    for (std::uint64_t i = 1; i <= 20; ++i) timing.add("a20", i * 1000);
    for (std::uint64_t i = 10; i >= 1; --i) timing.add("b10", i * 1000);  // sorted before use
    for (std::uint64_t i = 1; i <= 100; ++i) timing.add("c100", i * 1000);
    clock->advance(1s);
    timing.flushIfWindowElapsed();
    EXPECT_EQ(lines(), (Lines{
                           "[perf] a20 n=20 mean=10.5us p50=11.0us p95=20.0us max=20.0us",
                           "[perf] b10 n=10 mean=5.5us p50=6.0us p95=10.0us max=10.0us",
                           "[perf] c100 n=100 mean=50.5us p50=51.0us p95=96.0us max=100.0us",
                       }));
}

TEST_F(Instrumentation, SeriesAreReportedInNameOrder) {
    quib::Instrumentation timing(clock, settings);
    for (const char* name : {"5_move_total", "arrival_gap", "1_cursor_read", "0_decode_dispatch", "3_build"})
        timing.add(name, 1000);
    clock->advance(1s);
    timing.flushIfWindowElapsed();
    const Lines got = lines();
    ASSERT_EQ(got.size(), 5u);
    const char* expected[] = {"0_decode_dispatch", "1_cursor_read", "3_build", "5_move_total", "arrival_gap"};
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(got[i].rfind(std::string("[perf] ") + expected[i] + " n=", 0), 0u) << got[i];
}

TEST_F(Instrumentation, SamplesPastTheCapAreDroppedAndTheNextWindowStartsEmpty) {
    quib::Instrumentation timing(clock, settings);
    for (std::size_t i = 0; i < quib::Instrumentation::maxSamples; ++i) timing.add("busy", 1000);
    timing.add("busy", 9'000'000);  // the 8193rd
    clock->advance(1s);
    timing.flushIfWindowElapsed();
    EXPECT_EQ(lines(), (Lines{"[perf] busy n=8192 mean=1.0us p50=1.0us p95=1.0us max=1.0us"}));

    sink->clear();
    timing.add("busy", 2000);
    clock->advance(1s);
    timing.flushIfWindowElapsed();
    EXPECT_EQ(lines(), (Lines{"[perf] busy n=1 mean=2.0us p50=2.0us p95=2.0us max=2.0us"}));
}

TEST_F(Instrumentation, FirstMoveHasNoGapAndAnIdleHostWritesNothing) {
    quib::Instrumentation timing(clock, settings);
    timing.recordMoveArrival();
    clock->advance(3ms);
    timing.recordMoveArrival();
    clock->advance(5s);
    timing.flushIfWindowElapsed();
    EXPECT_EQ(lines(), (Lines{"[perf] arrival_gap n=1 mean=3000.0us p50=3000.0us p95=3000.0us max=3000.0us"}));

    sink->clear();
    clock->advance(5s);
    timing.flushIfWindowElapsed();
    EXPECT_TRUE(lines().empty());
}

TEST_F(Instrumentation, ReplacedLoggerReceivesTheReports) {
    quib::Instrumentation timing(clock, settings);
    timing.setLogger(quib::quibLog());
    timing.add("x", 1000);
    clock->advance(1s);
    timing.flushIfWindowElapsed();
    ASSERT_EQ(sink->records().size(), 1u);
    EXPECT_EQ(sink->records()[0].category, "host");
}

// Two arrivals on two threads: the one that reads the clock first must also be the first to
// reach the shared state, or the second would compute a negative (wrapped) gap.
TEST_F(Instrumentation, ConcurrentMoveArrivalsNeverGiveANegativeGap) {
    auto gated = std::make_shared<GatedClock>();
    quib::Instrumentation timing(gated, settings);
    gated->holdNextCall();
    std::thread early([&] { timing.recordMoveArrival(); });
    gated->waitUntilHeld();
    gated->advance(1ms);
    std::thread late([&] {
        timing.recordMoveArrival();
        gated->release();
    });
    early.join();
    late.join();

    gated->advance(2s);
    timing.flushIfWindowElapsed();
    EXPECT_EQ(lines(), (Lines{"[perf] arrival_gap n=1 mean=1000.0us p50=1000.0us p95=1000.0us max=1000.0us"}));
}

// A flush holding an older time must not move the window start back behind a newer flush.
TEST_F(Instrumentation, ConcurrentFlushesNeverMoveTheWindowBack) {
    auto gated = std::make_shared<GatedClock>();
    quib::Instrumentation timing(gated, settings);
    gated->advance(500ms);
    gated->holdNextCall();
    std::thread stale([&] { timing.flushIfWindowElapsed(); });
    gated->waitUntilHeld();
    gated->advance(1s);  // now 1.5 s into the window
    std::thread fresh([&] {
        timing.add("x", 1000);
        timing.flushIfWindowElapsed();
        gated->release();
    });
    stale.join();
    fresh.join();
    EXPECT_EQ(lines().size(), 1u);

    // Half a second into the new window: nothing is due yet.
    gated->advance(500ms);
    timing.add("y", 1000);
    timing.flushIfWindowElapsed();
    EXPECT_EQ(lines().size(), 1u);
}
