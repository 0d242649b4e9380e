#include "QuibHost/Approvals/PushSender.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "Runtime/FakeClock.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
#include "Shared/PushEnvelope.hpp"
#include "Tests/Support/Eventually.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;

constexpr std::int64_t kNow = 1'800'000'000'000;  // the fake clock's wall time, in epoch ms

// Keeps every request, after `delay`; the test answers each one when it likes, on its own thread.
class RecordingPoster final : public HttpPoster {
public:
    bool accepts(std::string_view url) const override {
        return url.starts_with("http://") || url.starts_with("https://");
    }
    std::optional<HttpUrl> resolve(std::string_view, std::string_view) const override { return std::nullopt; }
    void post(HttpRequest request, Completion completion) override {
        entered = true;
        std::this_thread::sleep_for(delay);
        std::lock_guard guard(mutex_);
        posts_.push_back({std::move(request), std::move(completion)});
    }

    std::vector<HttpRequest> requests() const {
        std::lock_guard guard(mutex_);
        std::vector<HttpRequest> out;
        for (const auto& post : posts_) out.push_back(post.request);
        return out;
    }
    void answer(std::size_t index, HttpResponse response) {
        Completion completion;
        {
            std::lock_guard guard(mutex_);
            completion = posts_.at(index).completion;
        }
        completion(std::move(response));
    }

    std::chrono::milliseconds delay{0};  // set before the first post
    std::atomic<bool> entered = false;

private:
    struct Post {
        HttpRequest request;
        Completion completion;
    };
    mutable std::mutex mutex_;
    std::vector<Post> posts_;
};

HttpResponse answer(long status, std::string body = "") { return HttpResponse{std::nullopt, status, std::move(body)}; }

Json bodyOf(const HttpRequest& request) { return Json::parse(request.body); }

std::optional<std::string> header(const HttpRequest& request, std::string_view name) {
    for (const auto& [key, value] : request.headers)
        if (key == name) return value;
    return std::nullopt;
}

class PushSender : public ::testing::Test {
protected:
    PushSender() {
        previousSink = Logger::setSink(log);
        clock->setWallTime(WallTime(std::chrono::milliseconds(kNow)));
    }
    ~PushSender() override { Logger::setSink(previousSink); }

    // A subscribed phone with a key of `keyLength` bytes.
    void phone(const std::string& deviceID, const std::string& token, std::size_t keyLength = 32) {
        ASSERT_TRUE(secrets.write(key(deviceID, keyLength), SecretStore::awayService, deviceID));
        sender->registerDevice({token, true, {}}, deviceID);
    }
    static Bytes key(const std::string& deviceID, std::size_t length = 32) {
        return Bytes(length, static_cast<std::uint8_t>(deviceID.front()));
    }
    void setRelay() { (void)settings->setString(quib::PushSender::relayKey, "https://relay.example/push"); }

    AgentEvent event(const std::string& target, std::int64_t at = kNow,
                     AgentEvent::Kind kind = AgentEvent::Kind::waiting) {
        return AgentEvent{target, kind, at, std::nullopt};
    }
    std::vector<HttpRequest> posted() {
        (void)sender->inspect();
        return poster->requests();
    }
    std::string summary() {
        std::string text;
        sender->summary([&](std::string s) { text = std::move(s); });
        (void)sender->inspect();
        main->runPending();
        return text;
    }
    std::size_t linesWith(std::string_view text) const {
        const auto lines = log->lines();
        return static_cast<std::size_t>(std::count_if(
            lines.begin(), lines.end(), [&](const std::string& line) { return line.find(text) != std::string::npos; }));
    }

    testing::ScratchFolder scratch{"quib-push"};
    SecretStore secrets{scratch.path / "secrets"};
    std::shared_ptr<Settings> settings = Settings::inMemory();
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<MainLoop> main = std::make_shared<MainLoop>(clock);
    std::shared_ptr<RecordingPoster> poster = std::make_shared<RecordingPoster>();
    std::shared_ptr<quib::PushSender> sender = quib::PushSender::create(
        {.settings = settings, .secrets = secrets, .poster = poster, .clock = clock, .main = main});
    std::shared_ptr<CapturingLogSink> log = std::make_shared<CapturingLogSink>();
    std::shared_ptr<LogSink> previousSink;
};

TEST_F(PushSender, WithoutARelayNothingIsPostedYetThePolicySeesTheEvent) {
    phone("a", "tok-a");
    sender->send(event("T1"), "Work", {});
    EXPECT_TRUE(posted().empty());
    EXPECT_FALSE(sender->isConfigured());
    EXPECT_EQ(summary(), "Not set up");

    setRelay();
    EXPECT_TRUE(sender->isConfigured());
    sender->send(event("T1"), "Work", {});
    EXPECT_TRUE(posted().empty());  // a duplicate for the phone's policy
    sender->send(event("T1", kNow + 1), "Work", {});
    EXPECT_EQ(posted().size(), 1u);
}

// A relay the poster does not take is logged once as ignored, with why.
TEST_F(PushSender, IsConfiguredOnlyForARelayThePosterTakes) {
    for (const char* relay : {"", "relay", "ftp://x", "/push"}) {
        (void)settings->setString(quib::PushSender::relayKey, relay);
        EXPECT_FALSE(sender->isConfigured()) << relay;
        EXPECT_FALSE(sender->isConfigured()) << relay;
        const std::string line = std::string("push: quib.push.relay is ignored: ") + relay +
                                 " is not an http or https URL, so no alert is pushed";
        EXPECT_EQ(linesWith(line), 1u) << line;
    }
    (void)settings->setBool(quib::PushSender::relayKey, true);
    EXPECT_FALSE(sender->isConfigured());
    setRelay();
    auto posterless = quib::PushSender::create(
        {.settings = settings, .secrets = secrets, .poster = nullptr, .clock = clock, .main = main});
    EXPECT_FALSE(posterless->isConfigured());
}

TEST_F(PushSender, PostsOneSealedRequestPerPhoneToTheRelayItself) {
    setRelay();
    (void)settings->setString(quib::PushSender::secretKey, "s3cret\r\n");
    phone("a", "tok-a");
    phone("b", "tok-b");
    sender->send(event("T1"), "Work", {"b"});
    const auto requests = posted();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.url, "https://relay.example/push");
    EXPECT_EQ(header(request, "Content-Type"), "application/json");
    EXPECT_EQ(header(request, "Authorization"), "Bearer s3cret");
    EXPECT_EQ(request.totalTimeout, 60s);

    const Json body = bodyOf(request);
    std::vector<std::string> keys;
    for (const auto& [name, value] : body.items()) keys.push_back(name);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::string>{"collapseId", "expiration", "payload", "sandbox", "token"}));
    EXPECT_EQ(body["token"], "tok-a");
    EXPECT_EQ(body["sandbox"], true);
    EXPECT_EQ(body["collapseId"], "agent.event.T1");
    EXPECT_EQ(body["expiration"], (kNow + 3'600'000) / 1000);
    EXPECT_EQ(body["payload"]["aps"]["category"], "quib.agent.event");
    EXPECT_EQ(body["payload"]["aps"]["thread-id"], PushEnvelope::opaqueThread("target.T1"));

    const auto& m = body["payload"]["m"];
    const auto alert = PushEnvelope::open({m["box"], m["version"]}, {key("a")});
    ASSERT_TRUE(alert) << alert.error().message;
    EXPECT_EQ(alert->title, "Work");
    EXPECT_EQ(alert->body, "Waiting for you");
    EXPECT_EQ(alert->badge, 1);
}

TEST_F(PushSender, RequestsCarryNoAuthorizationWithoutASecret) {
    setRelay();
    phone("a", "tok-a");
    sender->send(event("T1"), "Work", {});
    const auto requests = posted();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_FALSE(header(requests[0], "Authorization"));
}

TEST_F(PushSender, ApprovalPushesExpireWithTheRequestInWholeSeconds) {
    setRelay();
    clock->setWallTime(WallTime(std::chrono::microseconds(1'499'600)));  // rounds to 1500 ms
    phone("a", "tok-a");
    ApprovalRequest request;
    request.id = "R1";
    request.expiresAtEpochMillis = 2999;
    sender->send(request, {});
    auto requests = posted();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(bodyOf(requests[0])["expiration"], 2);
    EXPECT_EQ(bodyOf(requests[0])["collapseId"], "agent.approval.R1");
    EXPECT_EQ(bodyOf(requests[0])["payload"]["aps"]["category"], "quib.agent.approval");

    request.id = "R2";
    request.expiresAtEpochMillis = 1500;  // expired at the rounded now
    sender->send(request, {});
    EXPECT_EQ(posted().size(), 1u);
}

// An agent's burst once put every request at the relay at once: a phone has a few at a time,
// a bounded number wait behind them, a newer alert of the same collapse identifier replacing a
// waiting one and the oldest going first when too many wait.
TEST_F(PushSender, APhonesRequestsWaitBoundedBehindTheFewAtTheRelay) {
    setRelay();
    phone("a", "tok-a");
    const auto approval = [&](int n) {
        ApprovalRequest request;
        request.id = "R" + std::to_string(n);
        request.expiresAtEpochMillis = kNow + 600'000;
        sender->send(request, {});
    };
    for (int n = 1; n <= 30; ++n) approval(n);
    sender->send(event("T1"), "Work", {});
    sender->send(event("T1", kNow + 1, AgentEvent::Kind::done), "Work", {});
    ASSERT_EQ(posted().size(), quib::PushSender::postingPerPhone);

    for (std::size_t answered = 0; answered < posted().size(); ++answered) poster->answer(answered, answer(200));
    std::vector<std::string> collapsed;
    for (const auto& request : posted()) collapsed.push_back(bodyOf(request)["collapseId"]);
    std::vector<std::string> expected{"agent.approval.R1", "agent.approval.R2"};
    for (int n = 16; n <= 30; ++n) expected.push_back("agent.approval.R" + std::to_string(n));
    expected.push_back("agent.event.T1");  // the newer of the two, in the older one's place
    EXPECT_EQ(collapsed, expected);
    EXPECT_EQ(linesWith("push: too many alerts waiting for <private>; dropped the oldest"), 13u);
}

TEST_F(PushSender, APhoneWithoutAWholeKeyIsSkippedAndTheOthersPosted) {
    setRelay();
    phone("a", "tok-a", 16);
    phone("b", "tok-b");
    sender->registerDevice({"tok-c", false, {}}, "c");  // no key at all
    sender->send(event("T1"), "Work", {});
    const auto requests = posted();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(bodyOf(requests[0])["token"], "tok-b");
    EXPECT_EQ(linesWith("push: no key for <private> — not sending"), 2u);
}

TEST_F(PushSender, ATokenThePushServiceRefusesEndsTheSubscription) {
    setRelay();
    phone("a", "tok-a");
    phone("b", "tok-b");
    sender->send(event("T1"), "Work", {});
    ASSERT_EQ(posted().size(), 2u);
    poster->answer(0, answer(500));
    EXPECT_EQ(sender->inspect().lastFailure, "Relay said 500");

    poster->answer(1, answer(200, R"({"reason":"Unregistered"})"));
    EXPECT_EQ(sender->inspect().subscribedDeviceIDs, (std::set<std::string>{"a", "b"}));
    EXPECT_FALSE(sender->inspect().lastFailure);

    poster->answer(0, answer(500));
    poster->answer(0, answer(410, R"({"reason":"Unregistered"})"));
    poster->answer(1, answer(400, R"({"reason":"BadDeviceToken"})"));
    const auto state = sender->inspect();
    EXPECT_TRUE(state.subscribedDeviceIDs.empty());
    EXPECT_FALSE(state.lastFailure);
    EXPECT_EQ(linesWith("push: <private> is gone — stopped"), 2u);
}

TEST_F(PushSender, AGoneAnswerForAReplacedTokenKeepsTheNewerSubscription) {
    setRelay();
    phone("a", "tok-A");
    sender->send(event("T1"), "Work", {});
    ASSERT_EQ(posted().size(), 1u);
    sender->registerDevice({"tok-B", false, {}}, "a");
    poster->answer(0, answer(410, R"({"reason":"Unregistered"})"));
    EXPECT_EQ(sender->inspect().subscribedDeviceIDs, std::set<std::string>{"a"});
    EXPECT_EQ(linesWith("is gone"), 0u);

    sender->send(event("T1", kNow + 1), "Work", {});
    const auto requests = posted();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(bodyOf(requests[1])["token"], "tok-B");
}

TEST_F(PushSender, TheSummaryFollowsSubscriptionsAndTheLastFailure) {
    setRelay();
    EXPECT_EQ(summary(), "No phones registered");
    phone("a", "tok-a");
    EXPECT_EQ(summary(), "1 phone");
    phone("b", "tok-b");
    EXPECT_EQ(summary(), "2 phones");

    sender->send(event("T1"), "Work", {"b"});
    ASSERT_EQ(posted().size(), 1u);
    poster->answer(0, answer(500));
    EXPECT_EQ(summary(), "Relay said 500");
    EXPECT_EQ(linesWith("push: relay 500 "), 1u);
    poster->answer(0, HttpResponse{"Couldn't connect to server", 0, {}});
    EXPECT_EQ(summary(), "Relay unreachable");
    EXPECT_EQ(linesWith("push: Couldn't connect to server"), 1u);
    poster->answer(0, answer(0));
    EXPECT_EQ(summary(), "Relay said 0");

    sender->registerDevice({"", false, {}}, "a");
    sender->forget("b");
    EXPECT_EQ(summary(), "No phones registered");
}

TEST_F(PushSender, RegistrationLogsRegisteredOnlyForATokenThatIsNotEmpty) {
    sender->registerDevice({"tok-a", false, {}}, "a");
    sender->registerDevice({"", false, {}}, "b");
    sender->registerDevice({std::nullopt, false, {}}, "c");
    EXPECT_EQ(sender->inspect().subscribedDeviceIDs, std::set<std::string>{"a"});
    EXPECT_EQ(linesWith("push: registered for <private>"), 1u);
    EXPECT_EQ(linesWith("push: stopped for <private>"), 2u);
}

// Its owner lets go while the queue is still handing a request to the poster.
TEST_F(PushSender, EndsWithItsOwnerAfterItsQueueAndDropsLaterAnswers) {
    setRelay();
    phone("a", "tok-a");
    poster->delay = 200ms;
    sender->send(event("T1"), "Work", {});
    ASSERT_TRUE(testing::eventually([&] { return poster->entered.load(); }));
    sender.reset();
    EXPECT_EQ(poster->requests().size(), 1u);
    EXPECT_EQ(poster.use_count(), 1);
    poster->answer(0, answer(410, R"({"reason":"Unregistered"})"));
    EXPECT_EQ(linesWith("is gone"), 0u);
}

}  // namespace
}  // namespace quib
