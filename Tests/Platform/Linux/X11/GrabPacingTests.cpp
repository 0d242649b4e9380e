// When a window's capture looks, on a clock of the test's own: a stream's thread run as a loop
// over the changes a table gives.

#include "Platform/Linux/X11/GrabPacing.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include <vector>

#include "Platform/Linux/X11/X11WindowStream.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
constexpr Duration interval = X11WindowStream::tickPeriod;
const MonoTime start{1h};

struct Picture {
    MonoTime at;
    MonoTime shows;  // the newest change the picture holds
};

// Looks as the pacing says, from `start` until `until`, with the window changing at each of
// `changes` (ascending); every look with news takes a picture.
std::vector<Picture> run(const std::vector<MonoTime>& changes, MonoTime until, GrabPacing::Timing timing = {interval}) {
    GrabPacing pacing(timing, start);
    std::vector<Picture> pictures;
    std::optional<MonoTime> news;
    auto next = changes.begin();
    for (MonoTime now = start; now < until;) {
        const MonoTime due = pacing.nextLook(news.has_value());
        if (next != changes.end() && *next < due) {
            now = std::max(now, *next);
            pacing.changed(now);
            news = *next++;
            continue;
        }
        now = std::max(now, due);
        if (news) pictures.push_back({now, *news});
        pacing.looked(now, news ? GrabPacing::Look::picture : GrabPacing::Look::idle);
        news.reset();
    }
    return pictures;
}

std::vector<MonoTime> every(Duration spacing, MonoTime from, MonoTime to) {
    std::vector<MonoTime> times;
    for (MonoTime at = from; at < to; at += spacing) times.push_back(at);
    return times;
}

TEST(GrabPacing, AChangeAfterAQuietSpellIsTakenAtOnceOrOnceItsDrawingSettlesAndOneSoonAfterAPictureWaits) {
    struct Case {
        const char* name;
        GrabPacing::Timing timing;
        std::vector<MonoTime> changes;
        std::vector<MonoTime> expected;  // when the pictures are taken
    };
    const MonoTime quiet = start + 1s + 3ms;                // between two idle looks
    const GrabPacing::Timing settling{interval, 1ms, 4ms};  // the first picture is never held
    const std::vector<Case> cases{
        {"at the start", {interval}, {start}, {start}},
        {"after a second's quiet", {interval}, {quiet}, {quiet}},
        {"just after an idle look", {interval}, {start + interval * 7 + 1us}, {start + interval * 7 + 1us}},
        {"two, 5 ms apart", {interval}, {quiet, quiet + 5ms}, {quiet, quiet + interval}},
        {"two, 30 ms apart", {interval}, {quiet, quiet + 30ms}, {quiet, quiet + 30ms}},
        {"three in one interval", {interval}, {quiet, quiet + 2ms, quiet + 9ms}, {quiet, quiet + interval}},
        {"drawn at once, settling", settling, {start, quiet}, {start, quiet + 1ms}},
        {"drawn in steps, settling", settling, {start, quiet, quiet + 500us, quiet + 1200us}, {start, quiet + 2200us}},
        {"drawn on and on, settling",
         settling,
         [&] {
             auto changes = every(500us, quiet, quiet + 10ms);
             changes.insert(changes.begin(), start);
             return changes;
         }(),
         {start, quiet + 4ms, quiet + 4ms + interval}},
        {"the first picture, settling", settling, {start, start + 500us}, {start, start + interval}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<MonoTime> taken;
        for (const auto& picture : run(c.changes, start + 3s, c.timing)) taken.push_back(picture.at);
        EXPECT_EQ(taken, c.expected);
    }
}

// Changes 200 times a second for two seconds: pictures come one interval apart, at most 60 in any
// second, each holds the newest change, and the last change is in the last picture.
TEST(GrabPacing, ABurstFasterThanTheRateIsGatheredIntoPicturesAnIntervalApartEndingWithTheLastChange) {
    const MonoTime from = start + 500ms + 1ms;
    const auto changes = every(5ms, from, from + 2s);
    const auto pictures = run(changes, from + 3s);
    ASSERT_FALSE(pictures.empty());
    EXPECT_EQ(pictures.front().at, from);
    for (std::size_t i = 1; i < pictures.size(); ++i) EXPECT_GE(pictures[i].at - pictures[i - 1].at, interval);
    for (const auto& first : pictures) {
        const auto inSecond = std::ranges::count_if(
            pictures, [&](const Picture& picture) { return picture.at >= first.at && picture.at < first.at + 1s; });
        EXPECT_LE(inSecond, 60);
    }
    EXPECT_GE(pictures.size(), 119u);
    for (const auto& picture : pictures) {
        const auto newest = std::ranges::upper_bound(changes, picture.at) - 1;
        EXPECT_EQ(picture.shows, *newest);
    }
    EXPECT_EQ(pictures.back().shows, changes.back());
}

TEST(GrabPacing, WithoutNewsItLooksEveryIntervalAndAfterAHeldBackLookItWaitsOne) {
    GrabPacing pacing({interval}, start);
    EXPECT_EQ(pacing.nextLook(false), start);
    pacing.looked(start, GrabPacing::Look::idle);
    EXPECT_EQ(pacing.nextLook(false), start + interval);
    EXPECT_EQ(pacing.nextLook(true), start);

    const MonoTime held = start + 2ms;
    pacing.looked(held, GrabPacing::Look::heldBack);
    EXPECT_EQ(pacing.nextLook(true), held + interval);
    EXPECT_EQ(pacing.nextLook(false), held + interval);
}

}  // namespace
}  // namespace quib
