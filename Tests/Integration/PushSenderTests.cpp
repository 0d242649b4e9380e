// The push sender posting through libcurl to a relay stub on 127.0.0.1.

#include <thread>

#include <gtest/gtest.h>

#include "Platform/Linux/CurlPoster.hpp"
#include "QuibHost/Approvals/PushSender.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
#include "Tests/Integration/RelayStub.hpp"
#include "Tests/Support/Process/HostProcess.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::RelayStub;

class PushSender : public ::testing::Test {
protected:
    PushSender() {
        RelayStub::bypassProxies();
        previousSink = Logger::setSink(log);
        (void)settings->setString(quib::PushSender::relayKey, relay.url());
        EXPECT_TRUE(secrets.write(Bytes(32, 0x5a), SecretStore::awayService, "bars-1"));
        sender->registerDevice({"tok-1", true, {}}, "bars-1");
    }
    ~PushSender() override { Logger::setSink(previousSink); }

    void sendEvent() {
        const auto now =
            std::chrono::duration_cast<std::chrono::milliseconds>(clock->wallNow().time_since_epoch()).count();
        sender->send(AgentEvent{"T1", AgentEvent::Kind::waiting, now + sent++, std::nullopt}, "Work", {});
    }

    // The sender's state once `holds` says it has settled.
    quib::PushSender::Snapshot settled(const std::function<bool(const quib::PushSender::Snapshot&)>& holds) {
        const auto end = std::chrono::steady_clock::now() + 20s;
        auto state = sender->inspect();
        while (!holds(state) && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(10ms);
            state = sender->inspect();
        }
        return state;
    }

    RelayStub relay;
    testing::TempHome home;
    SecretStore secrets{home.dataHome() / "secrets"};
    std::shared_ptr<Settings> settings = Settings::inMemory();
    std::shared_ptr<Clock> clock = SystemClock::shared();
    std::shared_ptr<MainLoop> main = std::make_shared<MainLoop>(clock);
    std::shared_ptr<quib::PushSender> sender = quib::PushSender::create({.settings = settings,
                                                                         .secrets = secrets,
                                                                         .poster = std::make_shared<CurlPoster>(),
                                                                         .clock = clock,
                                                                         .main = main});
    std::shared_ptr<CapturingLogSink> log = std::make_shared<CapturingLogSink>();
    std::shared_ptr<LogSink> previousSink;
    std::int64_t sent = 0;
};

TEST_F(PushSender, OverLibcurlTheSecretLosesItsLineBreakAndTheBodyHoldsFiveKeys) {
    (void)settings->setString(quib::PushSender::secretKey, "s3cret\n");
    sendEvent();
    ASSERT_TRUE(relay.waitForRequests(1));
    const auto request = relay.requests().at(0);
    EXPECT_EQ(request.headers.at("authorization"), "Bearer s3cret");
    EXPECT_EQ(request.headers.at("content-type"), "application/json");
    const Json body = Json::parse(request.body);
    EXPECT_EQ(body.size(), 5u);
    for (const char* key : {"token", "sandbox", "collapseId", "expiration", "payload"})
        EXPECT_TRUE(body.contains(key)) << key;
}

TEST_F(PushSender, AGoneTokenUnsubscribesThePhone) {
    relay.respondAlways(RelayStub::Reply::with(410, R"({"reason":"Unregistered"})"));
    sendEvent();
    const auto state = settled([](const auto& s) { return s.subscribedDeviceIDs.empty(); });
    EXPECT_TRUE(state.subscribedDeviceIDs.empty());
    EXPECT_FALSE(state.lastFailure);
    EXPECT_TRUE(log->contains("push: <private> is gone — stopped"));
}

TEST_F(PushSender, AnAnswerWithoutBodyIsTheRelaysFailure) {
    relay.respondAlways(RelayStub::Reply::with(500));
    sendEvent();
    const auto state = settled([](const auto& s) { return s.lastFailure.has_value(); });
    EXPECT_EQ(state.lastFailure, "Relay said 500");
    EXPECT_EQ(state.subscribedDeviceIDs, std::set<std::string>{"bars-1"});
    EXPECT_TRUE(log->contains("push: relay 500 "));
}

TEST_F(PushSender, AClosedPortIsAnUnreachableRelay) {
    (void)settings->setString(quib::PushSender::relayKey,
                              "http://127.0.0.1:" + std::to_string(testing::freePort()) + "/push");
    sendEvent();
    const auto state = settled([](const auto& s) { return s.lastFailure.has_value(); });
    EXPECT_EQ(state.lastFailure, "Relay unreachable");
    EXPECT_EQ(state.subscribedDeviceIDs, std::set<std::string>{"bars-1"});
}

TEST_F(PushSender, TheRelaySettingMustBeAWebUrl) {
    EXPECT_TRUE(sender->isConfigured());
    for (const char* relayURL : {"ftp://x", "relay", ""}) {
        (void)settings->setString(quib::PushSender::relayKey, relayURL);
        EXPECT_FALSE(sender->isConfigured()) << relayURL;
        sendEvent();
    }
    (void)settings->setString(quib::PushSender::relayKey, "http://127.0.0.1:9/p");
    EXPECT_TRUE(sender->isConfigured());
    (void)sender->inspect();
    EXPECT_TRUE(relay.requests().empty());
}

}  // namespace
}  // namespace quib
