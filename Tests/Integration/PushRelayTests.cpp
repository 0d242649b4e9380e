// Pushed alerts from the real quib-host to a relay stub on 127.0.0.1: a phone registers and
// leaves, and an agent's events and requests reach it through the relay, sealed with its away key.

#include <thread>

#include <gtest/gtest.h>

#include "Runtime/Base64.hpp"
#include "Runtime/Clock.hpp"
#include "Shared/PushEnvelope.hpp"
#include "Tests/Integration/RelayStub.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::HostProcess;
using testing::RelayStub;
using testing::TempHome;

std::int64_t nowMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(SystemClock::shared()->wallNow().time_since_epoch())
        .count();
}

// A host with the relay and its secret set, away access on (so it runs only in the loopback-only
// namespace, with no STUN server to ask), the tmux target T1 ("Work") and the
// phone "bars-1" and the agent "agent-1" approved, all stored before it starts.
std::unique_ptr<HostProcess> startHost(TempHome& home, const RelayStub& relay) {
    auto defaults = home.defaults();
    (void)defaults->setString("quib.push.relay", relay.url());
    (void)defaults->setString("quib.push.secret", "s3cret");
    (void)defaults->setBool("quib.away.enabled", true);
    (void)defaults->setInteger("quib.awayPort", testing::freePort());
    testing::saveTargetsBeforeStart(home, {testing::workPane("quib-push:0.0")});
    testing::approveBeforeStart(home, {{"bars-1", "Bars"}, {"agent-1", "Agent"}});
    testing::setStunServersBeforeStart(home, {});
    return HostProcess::start(home);
}

// The phone says hello, takes its key from the remote-access message, registers for pushes and
// leaves. Returns its key.
Bytes registerAndLeave(const HostProcess& host) {
    auto connected = testing::connectPhone(testing::phoneOptions(host, host.pairingCode()));
    if (!connected) return {};
    auto& phone = *connected;
    EXPECT_TRUE(phone.sendHello("bars-1", "Bars"));
    const auto welcome = phone.receiveCase("welcome", 10s);
    EXPECT_TRUE(welcome && (*welcome)["status"]["pushRelayConfigured"] == true) << (welcome ? welcome->dump() : "");
    const auto remote = phone.receiveCase("remoteAccess", 10s);
    const auto material = remote ? (*remote)["_0"].value("keyMaterial", "") : "";
    auto key = base64Decode(material);
    EXPECT_TRUE(key && key->size() == 32u) << (remote ? remote->dump() : "") << host.log();
    EXPECT_TRUE(phone.sendLine(R"({"registerPush":{"_0":{"token":"tok-1","usesSandbox":true}}})"));
    EXPECT_TRUE(phone.sendLine(R"({"ping":{"nonce":1}})"));
    EXPECT_TRUE(phone.receiveCase("pong", 10s));
    phone.close();
    return key.value_or(Bytes());
}

// Waits until quibctl lists the phone as not connected, so that the host pushes to it.
bool gone(const TempHome& home, const std::string& deviceID) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < end) {
        const auto run = testing::quibctl(home, {"devices"});
        if (run.out.find(deviceID + "  Bars  (approved, not connected)") != std::string::npos) return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

// What quibctl push prints once it prints `expected`, or its last output after 10 s.
std::string pushSummary(const TempHome& home, const std::string& expected) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    std::string out;
    do {
        out = testing::quibctl(home, {"push"}).out;
        if (out == expected) break;
        std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < end);
    return out;
}

std::string eventLine(const std::string& kind, std::int64_t at, const std::string& note) {
    return Json{{"agentEvent", {{"_0", {{"targetID", "T1"}, {"kind", kind}, {"atEpochMillis", at}, {"note", note}}}}}}
        .dump();
}

// The alert sealed in a posted body, opened with the phone's key.
AgentAlert opened(const Json& body, const Bytes& key) {
    const Json& m = body["payload"]["m"];
    auto alert = PushEnvelope::open({m.value("box", ""), m.value("version", 0)}, {key});
    EXPECT_TRUE(alert) << body.dump();
    return alert ? *alert : AgentAlert{};
}

TEST(QuibHostPush, AnAgentsEventsAndRequestsReachAnAbsentPhoneThroughTheRelay) {
    RelayStub::bypassProxies();
    RelayStub relay;
    TempHome home;
    auto host = startHost(home, relay);
    ASSERT_TRUE(host);
    const Bytes key = registerAndLeave(*host);
    ASSERT_EQ(key.size(), 32u);
    ASSERT_TRUE(gone(home, "bars-1")) << host->log();

    auto agent = testing::welcomed(*host, {"agent-1", "Agent"}).phone;
    ASSERT_TRUE(agent);

    const std::int64_t at = nowMillis();
    ASSERT_TRUE(agent->sendLine(eventLine("waiting", at, "build\n\n  ok  ")));
    ASSERT_TRUE(relay.waitForRequests(1)) << host->log();
    const auto event = relay.requests().at(0);
    EXPECT_EQ(event.method, "POST");
    EXPECT_EQ(event.headers.at("authorization"), "Bearer s3cret");
    const Json body = Json::parse(event.body);
    EXPECT_EQ(body["token"], "tok-1");
    EXPECT_EQ(body["sandbox"], true);
    EXPECT_EQ(body["collapseId"], "agent.event.T1");
    EXPECT_NEAR(body["expiration"].get<double>(), at / 1000 + 3600, 60);
    const Json& aps = body["payload"]["aps"];
    EXPECT_EQ(aps.size(), 7u);
    EXPECT_EQ(aps["thread-id"], "f5e66d54cbf466d4");
    EXPECT_EQ(aps["category"], "quib.agent.event");
    const AgentAlert alert = opened(body, key);
    EXPECT_EQ(alert.title, "Work");
    EXPECT_EQ(alert.body, "build · ok");
    EXPECT_EQ(alert.badge, 1);

    // The same event again is a duplicate; the request after it is posted.
    ASSERT_TRUE(agent->sendLine(eventLine("waiting", at, "build\n\n  ok  ")));
    const std::int64_t expires = nowMillis() + 60'000;
    const Json request{{"id", "R-push"},
                       {"targetID", "T1"},
                       {"title", "Run ls"},
                       {"detail", "ls -la"},
                       {"kind", "command"},
                       {"createdAtEpochMillis", nowMillis()},
                       {"expiresAtEpochMillis", expires}};
    ASSERT_TRUE(agent->sendLine(Json{{"requestApproval", {{"_0", request}}}}.dump()));
    ASSERT_TRUE(relay.waitForRequests(2)) << host->log();
    const Json approval = Json::parse(relay.requests().at(1).body);
    EXPECT_EQ(approval["payload"]["aps"]["category"], "quib.agent.approval");
    EXPECT_EQ(approval["collapseId"], "agent.approval.R-push");
    EXPECT_EQ(approval["expiration"], expires / 1000);
    EXPECT_EQ(opened(approval, key).badge, 2);

    // The push service no longer knows the token: one more post, then the phone is dropped.
    relay.respondAlways(RelayStub::Reply::with(410, R"({"reason":"Unregistered"})"));
    ASSERT_TRUE(agent->sendLine(eventLine("failed", at + 1, "")));
    ASSERT_TRUE(relay.waitForRequests(3)) << host->log();
    EXPECT_EQ(pushSummary(home, "No phones registered\n"), "No phones registered\n");
    ASSERT_TRUE(agent->sendLine(eventLine("waiting", at + 2, "")));
    EXPECT_EQ(pushSummary(home, "No phones registered\n"), "No phones registered\n");
    EXPECT_EQ(relay.requests().size(), 3u);
    EXPECT_EQ(host->stop(), 0) << host->log();
}

}  // namespace
}  // namespace quib
