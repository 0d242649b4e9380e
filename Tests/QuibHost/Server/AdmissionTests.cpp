#include "QuibHost/Server/Admission.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "QuibHost/Server/HostServerClient.hpp"

using namespace quib;
using namespace std::chrono_literals;

namespace {

const MonoTime start = MonoTime(10h);
constexpr auto past = Admission::pendingGrace;  // entered this long before `start`: past its grace

// A connection before its first line: its source, and how long before the weighing it entered.
struct Entry {
    std::string source;
    MonoTime::duration age;
};

// Enters the entries oldest first, so that their order follows their age.
std::vector<Admission::ClientPtr> enter(Admission& admission, std::vector<Entry> entries) {
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.age > b.age; });
    std::vector<Admission::ClientPtr> clients;
    for (const Entry& entry : entries) {
        clients.push_back(std::make_shared<HostServerClient>(nullptr, entry.source, false));
        admission.enter(clients.back(), start - entry.age);
    }
    return clients;
}

Admission::Newcomer newcomer(std::string source) { return {nullptr, std::move(source), false}; }

}  // namespace

TEST(Admission, WeighsANewcomerByItsSourcesShareAndTheFreeSlots) {
    using W = Admission::Weighed;
    struct Row {
        const char* name;
        std::vector<Entry> pending;
        std::size_t connected;
        std::string source;
        W weighed;
        // The source and age of the pending connection that gives way; empty: none does.
        std::string displacedSource = "";
        MonoTime::duration displacedAge = 0s;
    };
    const std::vector<Row> rows = {
        {"a free slot", {}, 0, "a", W::admitted},
        {"one of its own waits", {{"a", 0s}}, 0, "a", W::admitted},
        {"two of its own within their grace", {{"a", 0s}, {"a", 1s}}, 0, "a", W::waits},
        {"two of its own, one stalled", {{"a", 0s}, {"a", past}}, 0, "a", W::refused},
        {"the last free slot", {{"b", 0s}}, 6, "a", W::admitted},
        {"every slot past its first line", {}, 8, "a", W::waits},
        {"every slot taken, the other within its grace", {{"b", 1s}}, 7, "a", W::waits},
        {"every slot taken, the other past its grace", {{"b", past}}, 7, "a", W::admitted, "b", past},
        {"the busiest source gives way",
         {{"b", 5s}, {"c", past + 1s}, {"c", past}},
         5,
         "a",
         W::admitted,
         "c",
         past + 1s},
        {"of equal sources the oldest gives way", {{"b", 4s}, {"c", 5s}}, 6, "a", W::admitted, "c", 5s},
        {"a source holding as many gives none way", {{"a", 0s}, {"b", past}}, 6, "a", W::waits},
        {"within its grace none gives way", {{"b", 1s}, {"b", 2s}}, 6, "a", W::waits},
    };
    for (const Row& row : rows) {
        Admission admission;
        const auto clients = enter(admission, row.pending);
        const auto verdict = admission.weigh(row.source, start, row.connected);
        EXPECT_EQ(verdict.weighed, row.weighed) << row.name;
        if (row.displacedSource.empty()) {
            EXPECT_EQ(verdict.displaced, nullptr) << row.name;
            EXPECT_EQ(admission.pending().size(), row.pending.size()) << row.name;
            continue;
        }
        ASSERT_NE(verdict.displaced, nullptr) << row.name;
        EXPECT_EQ(verdict.displaced->source, row.displacedSource) << row.name;
        EXPECT_EQ(verdict.displaced->acceptedAt, start - row.displacedAge) << row.name;
        EXPECT_FALSE(admission.pending().contains(verdict.displaced.get())) << row.name;
        EXPECT_EQ(admission.pending().size(), row.pending.size() - 1) << row.name;
    }
}

TEST(Admission, ListenersTakeWhatIsLeftOfTheBudgetAndOneMoreToWeigh) {
    struct Row {
        std::size_t connected;
        std::size_t pending;
        std::size_t waiting;
        int limit;
    };
    const std::vector<Row> rows = {
        {0, 0, 0, 8},
        {5, 1, 0, 2},
        {7, 1, 0, 1},
        {7, 1, Admission::mostWaiting - 1, 1},
        {7, 1, Admission::mostWaiting, 0},
        {8, 0, 0, 0},
        {9, 0, 0, 0},
    };
    for (const Row& row : rows) {
        Admission admission;
        (void)enter(admission, std::vector<Entry>(row.pending, Entry{"a", 0s}));
        for (std::size_t i = 0; i < row.waiting; ++i) {
            auto waiting = newcomer("w");
            ASSERT_TRUE(admission.wait(waiting));
        }
        EXPECT_EQ(admission.listenerLimit(row.connected), row.limit)
            << row.connected << " connected, " << row.pending << " pending, " << row.waiting << " waiting";
    }
}

TEST(Admission, WaitingNewcomersLeaveOldestFirstAndNoMoreThanMostWaitingWait) {
    Admission admission;
    for (std::size_t i = 0; i < Admission::mostWaiting; ++i) {
        auto waiting = newcomer(std::to_string(i));
        ASSERT_TRUE(admission.wait(waiting));
    }
    auto oneTooMany = newcomer("late");
    EXPECT_FALSE(admission.wait(oneTooMany));
    EXPECT_EQ(oneTooMany.source, "late");  // left to its owner
    for (std::size_t i = 0; i < Admission::mostWaiting; ++i)
        EXPECT_EQ(admission.nextWaiting()->source, std::to_string(i));
    EXPECT_EQ(admission.nextWaiting(), std::nullopt);
}

TEST(Admission, OrdersPendingConnectionsByWhenTheyEntered) {
    Admission admission;
    const auto clients = enter(admission, {{"a", 3s}, {"b", 2s}, {"a", 1s}});
    for (std::size_t i = 1; i < clients.size(); ++i) EXPECT_LT(clients[i - 1]->order, clients[i]->order);
    EXPECT_EQ(clients.back()->acceptedAt, start - 1s);
    // Leaving the table does not give an order back.
    admission.pending().erase(clients.back().get());
    const auto later = enter(admission, {{"c", 0s}});
    EXPECT_GT(later.front()->order, clients.back()->order);
}

TEST(Admission, TheWaitingAreWeighedAgainWhenTheFirstGraceEndsOneTimerAtATime) {
    Admission admission;
    EXPECT_EQ(admission.nextWeighing(start), std::nullopt);  // none waits
    (void)enter(admission, {{"a", past + 1s}, {"a", 1s}, {"b", 2s}});
    auto waiting = newcomer("a");
    ASSERT_TRUE(admission.wait(waiting));
    EXPECT_EQ(admission.nextWeighing(start), past - 2s);     // b's grace ends first
    EXPECT_EQ(admission.nextWeighing(start), std::nullopt);  // armed already
    admission.weighingDone();
    EXPECT_EQ(admission.nextWeighing(start + 1500ms), 500ms);  // then the second a's
    admission.weighingDone();
    EXPECT_EQ(admission.nextWeighing(start + past), std::nullopt);  // every grace is over
}
