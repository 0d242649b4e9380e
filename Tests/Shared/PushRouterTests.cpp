#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "Shared/PushRouter.hpp"
#include "Shared/QuibCoder.hpp"

using namespace quib;

namespace {

constexpr std::int64_t kT0 = 1'800'000'000'000;

PushRegistration registration(std::optional<std::string> token, bool sandbox = false, AlertSettings settings = {}) {
    return PushRegistration{std::move(token), sandbox, std::move(settings)};
}

AgentEvent waiting(const std::string& target, std::int64_t at = kT0) {
    return AgentEvent{target, AgentEvent::Kind::waiting, at, std::nullopt};
}

ApprovalRequest request(const std::string& id, std::int64_t expires = kT0 + 120'000) {
    ApprovalRequest r;
    r.id = id;
    r.targetID = "T1";
    r.expiresAtEpochMillis = expires;
    return r;
}

std::vector<std::string> devices(const std::vector<PushDelivery>& deliveries) {
    std::vector<std::string> ids;
    for (const auto& d : deliveries) ids.push_back(d.deviceID);
    return ids;
}

}  // namespace

TEST(PushRouter, RoutesToSubscribersInAscendingDeviceOrder) {
    PushRouter router;
    router.registerDevice(registration("tok-b"), "b");
    router.registerDevice(registration("tok-a", true), "a");
    router.registerDevice(registration("tok-c"), "c");
    const auto out = router.route(waiting("T1"), "Work", {}, kT0);
    EXPECT_EQ(devices(out), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(out[0].token, "tok-a");
    EXPECT_TRUE(out[0].usesSandbox);
    EXPECT_FALSE(out[1].usesSandbox);
    EXPECT_EQ(out[0].alert.title, "Work");
    EXPECT_EQ(out[0].alert.badge, 1);
    EXPECT_EQ(router.subscribedDeviceIDs(), (std::set<std::string>{"a", "b", "c"}));
}

TEST(PushRouter, AConnectedPhoneIsSkippedAndItsPolicyUntouched) {
    PushRouter router;
    router.registerDevice(registration("tok-a"), "a");
    router.registerDevice(registration("tok-b"), "b");
    EXPECT_EQ(devices(router.route(waiting("T1"), "Work", {"a"}, kT0)), (std::vector<std::string>{"b"}));
    EXPECT_EQ(router.outstanding("a"), 0);
    // After it disconnects the same event is new to it, and only to it.
    EXPECT_EQ(devices(router.route(waiting("T1"), "Work", {}, kT0)), (std::vector<std::string>{"a"}));
}

TEST(PushRouter, APolicyIsStoredBackEvenWhenNothingIsPosted) {
    PushRouter router;
    router.registerDevice(registration("tok-a"), "a");
    router.route(waiting("T1"), "Work", {}, kT0);
    EXPECT_EQ(router.outstanding("a"), 1);
    // Done alerts are off by default: nothing is posted, but the waiting alert is taken back.
    EXPECT_TRUE(router.route(AgentEvent{"T1", AgentEvent::Kind::done, kT0 + 1, std::nullopt}, "Work", {}, kT0).empty());
    EXPECT_EQ(router.outstanding("a"), 0);
}

TEST(PushRouter, AMissingOrEmptyTokenUnsubscribes) {
    PushRouter router;
    router.registerDevice(registration("tok-a"), "a");
    router.registerDevice(registration("tok-b"), "b");
    EXPECT_EQ(router.token("a"), "tok-a");
    router.registerDevice(QuibCoder::decode<PushRegistration>("{}").value(), "a");
    router.registerDevice(registration(""), "b");
    router.registerDevice(registration(std::nullopt), "never-registered");
    EXPECT_FALSE(router.isSubscribed("a"));
    EXPECT_FALSE(router.isSubscribed("b"));
    EXPECT_FALSE(router.token("a"));
    EXPECT_TRUE(router.subscribedDeviceIDs().empty());
    EXPECT_TRUE(router.route(waiting("T1"), "Work", {}, kT0).empty());
}

TEST(PushRouter, RegisteringAgainStartsAFreshPolicy) {
    PushRouter router;
    router.registerDevice(registration("tok-a"), "a");
    EXPECT_EQ(router.route(waiting("T1"), "Work", {}, kT0).size(), 1u);
    EXPECT_TRUE(router.route(waiting("T1"), "Work", {}, kT0).empty());
    router.registerDevice(registration("tok-a"), "a");
    EXPECT_EQ(router.outstanding("a"), 0);
    const auto again = router.route(waiting("T1"), "Work", {}, kT0);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].alert.badge, 1);

    router.registerDevice(registration("tok-new", true), "a");
    EXPECT_EQ(router.token("a"), "tok-new");
    router.forget("a");
    router.forget("a");
    EXPECT_FALSE(router.isSubscribed("a"));
}

TEST(PushRouter, CollapseIdIsTheAlertsIdAndExpiryDependsOnWhatIsRouted) {
    PushRouter router;
    router.registerDevice(registration("tok-a"), "a");
    const auto event = router.route(waiting("T1"), "Work", {}, kT0);
    ASSERT_EQ(event.size(), 1u);
    EXPECT_EQ(event[0].collapseID, "agent.event.T1");
    EXPECT_EQ(event[0].collapseID, event[0].alert.id);
    EXPECT_EQ(event[0].expiresAtEpochMillis, kT0 + 3'600'000);

    const auto approval = router.route(request("R1", kT0 + 7), {}, kT0);
    ASSERT_EQ(approval.size(), 1u);
    EXPECT_EQ(approval[0].collapseID, "agent.approval.R1");
    EXPECT_EQ(approval[0].expiresAtEpochMillis, kT0 + 7);
    EXPECT_TRUE(router.route(request("R2", kT0), {}, kT0).empty());

    // A clock at the end of the range holds the expiry there.
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(router.route(waiting("T2", kMax - 5), "Work", {}, kMax - 5)[0].expiresAtEpochMillis, kMax);
}

TEST(PushRouter, ArrivingClearsAPhonesAlertsAndResolvingClearsOneRequestEverywhere) {
    PushRouter router;
    router.registerDevice(registration("tok-a"), "a");
    router.registerDevice(registration("tok-b"), "b");
    router.route(waiting("T1"), "Work", {}, kT0);
    router.route(request("R1"), {}, kT0);
    router.route(request("R2"), {}, kT0);
    EXPECT_EQ(router.outstanding("a"), 3);

    router.resolved("R1");
    EXPECT_EQ(router.outstanding("a"), 2);
    EXPECT_EQ(router.outstanding("b"), 2);
    EXPECT_EQ(router.route(request("R1"), {}, kT0).size(), 2u);

    router.deviceArrived("a");
    router.deviceArrived("unknown");
    EXPECT_EQ(router.outstanding("a"), 0);
    EXPECT_EQ(router.outstanding("b"), 3);
    EXPECT_EQ(router.outstanding("unknown"), 0);
}
