#include "QuibHost/Reach/RemoteReach.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "QuibHost/Server/ServerSettings.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/MainLoop.hpp"
#include "Tests/QuibHost/Reach/CapturedLog.hpp"
#include "Tests/Support/FakeDiscovery.hpp"
#include "Tests/Support/FakePortMapper.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using testing::FakeDiscovery;
using testing::FakePortMapper;
using testing::ScratchFolder;
using Kind = RemoteReachService::Status::Kind;
using Mapping = PortMapperService::Mapping;
using Failure = PortMapperService::Failure;
using Reach = QuibCandidate::Reach;

const std::string noAddress =
    "Your router would not open a port, and nothing on the internet could say what this computer's public address is.";
const std::string carrierGradeNAT =
    "Your internet connection is behind your ISP's own NAT, so there is no port to forward. Reaching this computer "
    "from "
    "away needs a relay, which Quib does not have.";
const std::string noPublicAddress = "Your router forwarded the port but would not say what its public address is";

StunWire::Reflexive seen(std::string host) { return {std::move(host), 3478, false}; }

// A path that reports whatever signature the test hands it.
class ScriptedPath final : public PathWatch {
public:
    void start(std::function<void(std::string)> update) override {
        this->update = std::move(update);
        ++starts;
        this->update(signature);
    }
    std::function<void(std::string)> update;
    std::string signature = "eth0|satisfied|192.168.1.20";
    int starts = 0;
};

class RemoteReach : public ::testing::Test {
protected:
    std::shared_ptr<quib::RemoteReach> make(const std::filesystem::path& folder) {
        return std::make_shared<quib::RemoteReach>(
            quib::RemoteReach::Config{.main = main,
                                      .settings = settings,
                                      .secrets = SecretStore(folder),
                                      .approvedIDs = [this] { return approved; },
                                      .mapper = mapper,
                                      .discovery = discovery,
                                      .localPort = [this] { return ServerSettings::localPort(*settings); },
                                      .awayPort = [this] { return ServerSettings::awayPort(*settings); },
                                      .addresses = [this] { return addresses; },
                                      .path = path});
    }

    Kind kind() { return reach->status().value().kind; }
    std::string reason() { return reach->status().value().reason; }
    std::optional<std::string> detail() { return reach->detail().value(); }
    std::vector<QuibCandidate> forwarded() {
        std::vector<QuibCandidate> found;
        for (const auto& c : reach->candidates().value())
            if (c.reach == Reach::forwarded4) found.push_back(c);
        return found;
    }
    // Runs `work` as a task of the main loop, where the reach lives.
    void onMain(const std::function<void()>& work) {
        main->post(work);
        main->runPending();
    }
    void switchOn() {
        onMain([&] { reach->setEnabled(true); });
    }
    void answer(PortMapperService::Outcome outcome) {
        mapper->answer(std::move(outcome));
        main->runPending();
    }

    ScratchFolder scratch{"quib-reach"};
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<MainLoop> main = std::make_shared<MainLoop>(clock);
    std::shared_ptr<Settings> settings = Settings::inMemory();
    std::set<std::string> approved{"D-A"};
    std::shared_ptr<FakePortMapper> mapper = std::make_shared<FakePortMapper>();
    std::shared_ptr<FakeDiscovery> discovery = std::make_shared<FakeDiscovery>();
    std::shared_ptr<ScriptedPath> path;  // none: the path is not watched
    PublicAddress::Addresses addresses{{"192.168.1.20"}, {"2a01::5"}};
    std::shared_ptr<quib::RemoteReach> reach = make(scratch.path / "secrets");
};

TEST_F(RemoteReach, OnlyAnApprovedLocalPhoneIsHandedItsKeyWhileAwayAccessIsOn) {
    const auto off = reach->payload("D-A", true);
    EXPECT_FALSE(off.keyMaterial);
    switchOn();
    EXPECT_EQ(settings->boolean(quib::RemoteReach::enabledKey), true);
    answer(Mapping{"203.0.113.7", 40001, 7200, "PCP"});

    const auto local = reach->payload("D-A", true);
    EXPECT_TRUE(local.isEnabled);
    ASSERT_TRUE(local.issuedKey());
    EXPECT_EQ(local.issuedKey()->identity, "quib.away.1.D-A");
    EXPECT_FALSE(local.unavailable);
    EXPECT_EQ(reach->payload("D-A", true), local) << "a second payload handed out another key";

    for (const auto& payload :
         {reach->payload("D-A", false), reach->payload("D-W", true), reach->payload(std::nullopt, true)}) {
        EXPECT_TRUE(payload.isEnabled);
        EXPECT_FALSE(payload.keyIdentity);
        EXPECT_FALSE(payload.keyMaterial);
        EXPECT_EQ(payload.unavailable, local.unavailable);
    }
    EXPECT_EQ(reach->listenerKeys(), (std::vector<QuibTransport::Key>{{"quib.away.1.D-A", *local.keyMaterial}}));
}

// The store is unusable where its folder is a file: nothing is mapped at the switch, at the
// path's first update, at a retry or at a renewal, until the store works again.
TEST_F(RemoteReach, UnusableKeychainBlocksWithItsSentenceMapsNothingAndKeepsTheSwitchOn) {
    { std::ofstream(scratch.path / "file") << "x"; }
    path = std::make_shared<ScriptedPath>();
    reach = make(scratch.path / "file");
    testing::CapturedLog log;
    // As at launch with the switch stored on: the path's first update comes after the start.
    (void)settings->setBool(quib::RemoteReach::enabledKey, true);
    onMain([&] {
        reach->refreshLocal();
        reach->watchPath();
        reach->start();
    });
    onMain([&] { reach->refresh(); });  // "Try again"
    EXPECT_EQ(settings->boolean(quib::RemoteReach::enabledKey), true);
    EXPECT_EQ(reach->status().value(),
              (RemoteReachService::Status{Kind::blocked, std::string(quib::RemoteReach::keyRefusal)}));
    EXPECT_TRUE(log.contains("away: the secret store refused to store a key; away access cannot be switched on"));
    EXPECT_TRUE(mapper->maps.empty());
    EXPECT_TRUE(forwarded().empty());
    for (const auto& payload : {reach->payload("D-A", true), reach->payload("D-A", false), reach->payload("X", true)}) {
        EXPECT_FALSE(payload.keyIdentity);
        EXPECT_EQ(payload.unavailable, quib::RemoteReach::keyRefusal);
    }

    std::filesystem::remove(scratch.path / "file");
    onMain([&] { reach->refresh(); });
    ASSERT_EQ(mapper->maps.size(), 1u);
    answer(Mapping{"203.0.113.7", 40001, 7200, "PCP"});
    EXPECT_EQ(kind(), Kind::reachable);

    // A store that breaks later blocks the next renewal and deletes what was mapped.
    std::filesystem::remove_all(scratch.path / "file");
    { std::ofstream(scratch.path / "file") << "x"; }
    clock->advance(3600s);
    main->runPending();
    EXPECT_EQ(mapper->maps.size(), 1u);
    ASSERT_EQ(mapper->unmaps.size(), 1u);
    EXPECT_EQ(mapper->unmaps[0].port, 61423);
    EXPECT_EQ(reason(), quib::RemoteReach::keyRefusal);
    EXPECT_EQ(detail(), std::nullopt);
    EXPECT_TRUE(forwarded().empty());
}

TEST_F(RemoteReach, SwitchSetToItsValueStartsAndStopsNothing) {
    onMain([&] { reach->setEnabled(false); });
    EXPECT_FALSE(settings->contains(quib::RemoteReach::enabledKey));
    EXPECT_TRUE(mapper->unmaps.empty());
    switchOn();
    ASSERT_EQ(mapper->maps.size(), 1u);
    EXPECT_EQ(mapper->maps[0].port, 61423);
    EXPECT_EQ(mapper->maps[0].lifetime, 7200u);
    EXPECT_EQ(kind(), Kind::working);
    onMain([&] { reach->setEnabled(true); });
    EXPECT_EQ(mapper->maps.size(), 1u);
    EXPECT_TRUE(mapper->unmaps.empty());
}

TEST_F(RemoteReach, RouterMappingIsPublishedAndRenewedAtHalfItsLifetime) {
    testing::CapturedLog log;
    switchOn();
    answer(Mapping{"203.0.113.7", 40001, 7200, "PCP"});
    EXPECT_EQ(kind(), Kind::reachable);
    EXPECT_EQ(detail(), "PCP \u00B7 203.0.113.7:40001");
    EXPECT_EQ(reach->candidates().value(),
              (std::vector<QuibCandidate>{{"192.168.1.20", 61413, Reach::local, "this network"},
                                          {"2a01::5", 61423, Reach::internet6, "IPv6"},
                                          {"203.0.113.7", 40001, Reach::forwarded4, "PCP"}}));
    EXPECT_EQ(discovery->asked, 0);
    EXPECT_TRUE(log.contains("away: 3 candidates, reachable"));

    clock->advance(3599s);
    main->runPending();
    EXPECT_EQ(mapper->maps.size(), 1u);
    clock->advance(1s);
    main->runPending();
    EXPECT_EQ(mapper->maps.size(), 2u);
    EXPECT_EQ(kind(), Kind::reachable) << "a refresh keeps the last status until it finishes";
}

TEST_F(RemoteReach, RouterWithoutAUsablePublicAddressIsCheckedWithStun) {
    struct Case {
        std::optional<std::string> routerHost;  // PCP's ::ffff:0.0.0.0 arrives as 0.0.0.0
        std::string via;
    };
    for (const Case& c : {Case{"192.168.0.2", "PCP"}, Case{"0.0.0.0", "PCP"}, Case{"0.0.0.0", "NAT-PMP"},
                          Case{"junk", "UPnP"}, Case{std::nullopt, "NAT-PMP"}}) {
        SCOPED_TRACE(c.routerHost.value_or("none") + " via " + c.via);
        onMain([&] { reach->setEnabled(false); });
        discovery->answer = seen("198.51.100.4");
        switchOn();
        answer(Mapping{c.routerHost, 40001, 7200, c.via});
        EXPECT_EQ(kind(), Kind::reachable);
        EXPECT_EQ(forwarded(), (std::vector<QuibCandidate>{{"198.51.100.4", 40001, Reach::forwarded4, c.via}}));

        onMain([&] { reach->setEnabled(false); });
        discovery->answer = std::nullopt;
        switchOn();
        answer(Mapping{c.routerHost, 40001, 7200, c.via});
        EXPECT_EQ(reason(), noPublicAddress);
        EXPECT_EQ(detail(), c.via + " \u00B7 port 40001");
        EXPECT_TRUE(forwarded().empty());
    }
    onMain([&] { reach->setEnabled(false); });
    discovery->answer = seen("100.72.1.1");
    switchOn();
    answer(Mapping{std::nullopt, 40001, 7200, "PCP"});
    EXPECT_EQ(reason(), carrierGradeNAT);
    EXPECT_EQ(detail(), std::nullopt);

    // Every outcome of a mapping is renewed, even one that could not be offered.
    const auto before = mapper->maps.size();
    clock->advance(3600s);
    main->runPending();
    EXPECT_EQ(mapper->maps.size(), before + 1);
}

TEST_F(RemoteReach, WithoutARouterMappingStunDecides) {
    struct Case {
        Failure failure;
        std::optional<StunWire::Reflexive> answer;
        RemoteReachService::Status status;
        std::optional<std::string> detail;
        std::vector<QuibCandidate> forwarded;
    };
    const std::string notForwarded =
        "Your router would not open a port by itself. Turn on UPnP, NAT-PMP or PCP in its settings — or forward TCP "
        "61423 to this computer by hand, and Quib will start using it.";
    const std::vector<Case> cases{
        {Failure::noGateway(),
         seen("198.51.100.20"),
         {Kind::reachable, ""},
         "direct \u00B7 198.51.100.20:61423",
         {{"198.51.100.20", 61423, Reach::forwarded4, "no NAT"}}},
        // The host's own private address, or a NAT's inside the network, is no way in from away.
        {Failure::noGateway(), seen("192.168.1.20"), {Kind::blocked, noAddress}, std::nullopt, {}},
        {Failure::silent(), seen("10.0.0.1"), {Kind::blocked, noAddress}, std::nullopt, {}},
        {Failure::silent(),
         seen("198.51.100.4"),
         {Kind::blocked, notForwarded},
         "seen as 198.51.100.4:61423",
         {{"198.51.100.4", 61423, Reach::forwarded4, "not forwarded yet"}}},
        {Failure::noGateway(), seen("100.72.1.1"), {Kind::blocked, carrierGradeNAT}, std::nullopt, {}},
        {Failure::noGateway(), std::nullopt, {Kind::blocked, noAddress}, std::nullopt, {}},
        {Failure::silent(), StunWire::Reflexive{"2a01::9", 3478, true}, {Kind::blocked, noAddress}, std::nullopt, {}},
        {Failure::silent(), seen("0.0.0.0"), {Kind::blocked, noAddress}, std::nullopt, {}},
        {Failure::silent(), seen("239.1.2.3"), {Kind::blocked, noAddress}, std::nullopt, {}},
        {Failure::refused("the router is set to refuse port forwarding"),
         seen("198.51.100.4"),
         {Kind::blocked, "Your router refused to forward a port — the router is set to refuse port forwarding"},
         std::nullopt,
         {}},
        {Failure::carrierGradeNAT("the router has no public address to forward — this looks like carrier-grade NAT"),
         seen("198.51.100.4"),
         {Kind::blocked, "the router has no public address to forward — this looks like carrier-grade NAT"},
         std::nullopt,
         {}},
    };
    addresses.local.push_back("198.51.100.20");  // a host with a public address of its own
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status.reason);
        onMain([&] { reach->setEnabled(false); });
        discovery->answer = c.answer;
        switchOn();
        answer(c.failure);
        EXPECT_EQ(reach->status().value(), c.status);
        EXPECT_EQ(detail(), c.detail);
        EXPECT_EQ(forwarded(), c.forwarded);
        if (c.status.kind == Kind::blocked) {
            EXPECT_EQ(reach->payload("D-A", false).unavailable, c.status.reason);
        }
    }
    // Failures are not renewed.
    const auto before = mapper->maps.size();
    clock->advance(2h);
    main->runPending();
    EXPECT_EQ(mapper->maps.size(), before);
}

TEST_F(RemoteReach, SwitchingOffCancelsTheWaitFirstAndALateResultChangesNothing) {
    switchOn();
    onMain([&] { reach->setEnabled(false); });
    ASSERT_EQ(mapper->unmaps.size(), 1u);
    EXPECT_EQ(mapper->unmaps[0].port, 61423);
    EXPECT_TRUE(mapper->unmaps[0].mapCancelled) << "the unmap would wait for the map";
    EXPECT_EQ(kind(), Kind::off);
    EXPECT_EQ(detail(), std::nullopt);

    mapper->answerLate(Mapping{"203.0.113.7", 40001, 7200, "PCP"});
    main->runPending();
    EXPECT_EQ(kind(), Kind::off);
    EXPECT_EQ(detail(), std::nullopt);
    EXPECT_TRUE(forwarded().empty());
    EXPECT_EQ(reach->candidates().value(),
              (std::vector<QuibCandidate>{{"192.168.1.20", 61413, Reach::local, "this network"}}));

    // A refresh supersedes the attempt before it the same way.
    switchOn();
    onMain([&] { reach->refresh(); });
    mapper->maps[mapper->maps.size() - 2].done(Mapping{"203.0.113.7", 40001, 7200, "PCP"});
    main->runPending();
    EXPECT_EQ(kind(), Kind::working);
}

TEST_F(RemoteReach, ChangedAwayPortLeavesNoMappingBehind) {
    switchOn();
    answer(Mapping{"203.0.113.7", 61423, 7200, "PCP"});
    (void)settings->setInteger(ServerSettings::awayPortKey, 61500);
    onMain([&] { reach->refresh(); });
    ASSERT_EQ(mapper->unmaps.size(), 1u);
    EXPECT_EQ(mapper->unmaps[0].port, 61423) << "the old port is unmapped before the new one is mapped";
    EXPECT_EQ(mapper->maps.back().port, 61500);

    (void)settings->setInteger(ServerSettings::awayPortKey, 61600);
    onMain([&] { reach->setEnabled(false); });
    ASSERT_EQ(mapper->unmaps.size(), 2u);
    EXPECT_EQ(mapper->unmaps[1].port, 61500);

    // A run that mapped nothing deletes what an earlier run may have left on the away port.
    reach = make(scratch.path / "secrets");
    (void)settings->setBool(quib::RemoteReach::enabledKey, true);
    onMain([&] { reach->setEnabled(false); });
    EXPECT_EQ(mapper->unmaps.back().port, 61600);
}

TEST_F(RemoteReach, PathChangesRefreshOnceAndRenewTheNonce) {
    path = std::make_shared<ScriptedPath>();
    reach = make(scratch.path / "secrets");
    switchOn();
    EXPECT_EQ(path->starts, 1);
    EXPECT_EQ(mapper->maps.size(), 2u) << "the first update with no signature stored refreshes";
    EXPECT_EQ(mapper->forgotten, 1);
    path->update(path->signature);
    main->runPending();
    EXPECT_EQ(mapper->maps.size(), 2u);

    path->update("eth0|unsatisfied|");
    main->runPending();
    EXPECT_EQ(mapper->maps.size(), 3u);
    EXPECT_EQ(mapper->forgotten, 2);

    // Off and on again over an unchanged path: one refresh, the nonce kept.
    onMain([&] { reach->setEnabled(false); });
    path->signature = "eth0|unsatisfied|";
    switchOn();
    EXPECT_EQ(mapper->maps.size(), 4u);
    EXPECT_EQ(mapper->forgotten, 2);
}

TEST_F(RemoteReach, SwitchedOffReasonSuggestsTheVpnOnlyWhenTheHostHasOne) {
    onMain([&] { reach->refreshLocal(); });
    EXPECT_EQ(reach->payload("D-A", true).unavailable,
              "Direct internet access is off on your computer. Connect on the same network, or enable Reachable on "
              "cellular in the Quib panel while this phone is connected. A VPN is another option.");
    addresses.local.push_back("100.101.102.103");
    onMain([&] { reach->refreshLocal(); });
    EXPECT_EQ(reach->candidates().value().back(), (QuibCandidate{"100.101.102.103", 61413, Reach::local, "VPN"}));
    EXPECT_EQ(reach->payload("D-A", true).unavailable,
              "Direct internet access is off. For another Wi-Fi or cellular, connect Tailscale on both devices; this "
              "phone has saved the computer's VPN address.");
    EXPECT_TRUE(reach->candidates().value().size() == 2) << "IPv6 candidates only while away access is on";
}

}  // namespace
}  // namespace quib
