#include "QuibHost/Server/DeviceRegistry.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include <unistd.h>

#include "Runtime/AssertOn.hpp"
#include "Runtime/AtomicFile.hpp"
#include "Runtime/FakeClock.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
#include "Shared/QuibCoder.hpp"

// The fixture is named after the type under test, so the tests live outside namespace quib.
namespace device_registry_tests {

using namespace quib;
using namespace std::chrono_literals;
using Registry = quib::DeviceRegistry;
using Device = Registry::Device;
using DeviceList = Registry::DeviceList;

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }
std::string textOf(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

class DeviceRegistry : public ::testing::Test {
protected:
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<MainLoop> main = std::make_shared<MainLoop>(clock);
    std::shared_ptr<Settings> settings = Settings::inMemory();

    std::shared_ptr<Registry> open() { return Registry::create(main, settings, clock); }

    WallTime later(std::chrono::seconds by) {
        clock->setWallTime(clock->wallNow() + by);
        return clock->wallNow();
    }

    static std::vector<std::string> ids(const DeviceList& devices) {
        std::vector<std::string> out;
        for (const auto& d : devices) out.push_back(d.id);
        return out;
    }
};

TEST_F(DeviceRegistry, UnknownDeviceIsSeenButStaysInNeitherList) {
    auto registry = open();
    EXPECT_FALSE(registry->seen("NEW", "Pat's phone"));
    main->runPending();

    EXPECT_TRUE(registry->approved().value().empty());
    EXPECT_TRUE(registry->revoked().value().empty());
    EXPECT_FALSE(registry->isApproved("NEW"));
    EXPECT_FALSE(registry->isRevoked("NEW"));
    EXPECT_FALSE(settings->contains(Registry::approvedKey));
}

TEST_F(DeviceRegistry, SeenAnswersAtOnceAndRefreshesTheRecordLaterOnMain) {
    auto registry = open();
    (void)registry->approve("A", "Old name");
    main->runPending();
    const WallTime approvedAt = clock->wallNow();

    const WallTime seenAt = later(90s);
    EXPECT_TRUE(registry->seen("A", "New name"));
    EXPECT_EQ(registry->approved().value(), (DeviceList{{"A", "Old name", approvedAt}}));

    // The refresh waits to be published and saved with the others of the next saveDelay.
    main->runPending();
    EXPECT_EQ(registry->approved().value(), (DeviceList{{"A", "Old name", approvedAt}}));
    EXPECT_TRUE(registry->hasUnsavedChanges());
    clock->advance(Registry::saveDelay);
    main->runPending();
    EXPECT_EQ(registry->approved().value(), (DeviceList{{"A", "New name", seenAt}}));
    EXPECT_FALSE(registry->hasUnsavedChanges());
    auto stored = QuibCoder::decode<DeviceList>(textOf(*settings->bytes(Registry::approvedKey)));
    ASSERT_TRUE(stored.ok());
    EXPECT_EQ(*stored, registry->approved().value());

    // A revoked device is refreshed too, and is still not approved.
    (void)registry->revoke("A");
    main->runPending();
    EXPECT_FALSE(registry->seen("A", "Renamed"));
    main->runPending();
    clock->advance(Registry::saveDelay);
    main->runPending();
    EXPECT_EQ(registry->revoked().value().at(0).name, "Renamed");
}

TEST_F(DeviceRegistry, SeenAfterTheRegistryIsGoneDoesNothing) {
    auto registry = open();
    registry->seen("A", "Phone");
    registry.reset();
    EXPECT_EQ(main->runPending(), 1u);
}

TEST_F(DeviceRegistry, RevokingAnUnknownDeviceGivesItTheDefaultName) {
    auto registry = open();
    (void)registry->revoke("X");
    main->runPending();

    EXPECT_EQ(registry->revoked().value(), (DeviceList{{"X", "iPhone", clock->wallNow()}}));
    EXPECT_TRUE(registry->approved().value().empty());
    EXPECT_EQ(registry->revokedIDs(), (std::set<std::string>{"X"}));
    EXPECT_TRUE(registry->approvedIDs().empty());
}

TEST_F(DeviceRegistry, RevokingAgainMovesTheDeviceToTheEndKeepingItsName) {
    auto registry = open();
    (void)registry->approve("A", "Ann");
    (void)registry->approve("B", "Bob");
    (void)registry->revoke("A");
    (void)registry->revoke("B");
    main->runPending();
    ASSERT_EQ(ids(registry->revoked().value()), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(registry->revoked().value().at(0).name, "Ann");

    const WallTime again = later(60s);
    (void)registry->revoke("A");
    main->runPending();
    EXPECT_EQ(registry->revoked().value(), (DeviceList{{"B", "Bob", again - 60s}, {"A", "Ann", again}}));
    EXPECT_TRUE(registry->approved().value().empty());
}

TEST_F(DeviceRegistry, ApprovingARevokedDeviceMovesItAcross) {
    auto registry = open();
    (void)registry->approve("A", "Ann");
    (void)registry->approve("B", "Bob");
    (void)registry->revoke("B");
    (void)registry->revoke("C");
    main->runPending();

    const WallTime now = later(30s);
    (void)registry->approve("B", "Bob again");
    main->runPending();
    EXPECT_EQ(ids(registry->approved().value()), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(registry->approved().value().at(1), (Device{"B", "Bob again", now}));
    EXPECT_EQ(ids(registry->revoked().value()), (std::vector<std::string>{"C"}));
    EXPECT_EQ(registry->approvedIDs(), (std::set<std::string>{"A", "B"}));
    EXPECT_EQ(registry->revokedIDs(), (std::set<std::string>{"C"}));

    // Approving an approved device re-stamps it in place.
    (void)registry->approve("A", "Ann 2");
    main->runPending();
    EXPECT_EQ(registry->approved().value().front(), (Device{"A", "Ann 2", now}));
}

TEST_F(DeviceRegistry, TrustSetsChangeNoLaterThanThePublishedLists) {
    auto registry = open();
    std::vector<bool> approvedWhenPublished;
    auto subscription = registry->approved().subscribe(
        [&](const DeviceList& list) { approvedWhenPublished.push_back(!list.empty() && registry->isApproved("A")); },
        {.skipCurrent = true});
    (void)registry->approve("A", "Ann");
    main->runPending();
    EXPECT_EQ(approvedWhenPublished, (std::vector<bool>{true}));
}

TEST_F(DeviceRegistry, StoredBytesAreOneJsonLineAndReadBack) {
    {
        auto registry = open();
        (void)registry->approve("A", "Ann \"the\" phone\n");
        (void)registry->revoke("B");
        main->runPending();
    }
    for (auto key : {Registry::approvedKey, Registry::revokedKey}) {
        const std::string text = textOf(*settings->bytes(key));
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '\n');
        EXPECT_EQ(std::ranges::count(text, '\n'), 1) << text;
    }
    // Dates are seconds since 2001-01-01: the fake clock's 1,800,000,000 Unix seconds.
    EXPECT_EQ(textOf(*settings->bytes(Registry::revokedKey)),
              "[{\"id\":\"B\",\"name\":\"iPhone\",\"lastSeen\":821692800.0}]\n");

    auto reopened = open();
    EXPECT_EQ(reopened->approved().value(), (DeviceList{{"A", "Ann \"the\" phone\n", clock->wallNow()}}));
    EXPECT_EQ(ids(reopened->revoked().value()), (std::vector<std::string>{"B"}));
    EXPECT_TRUE(reopened->isApproved("A"));
    EXPECT_TRUE(reopened->isRevoked("B"));
}

TEST_F(DeviceRegistry, DamagedStoredListIsKeptAsideNotLost) {
    auto sink = std::make_shared<CapturingLogSink>();
    auto previousSink = Logger::setSink(sink);
    const Bytes garbage = bytesOf("{not json");
    const Bytes missingLastSeen = bytesOf("[{\"id\":\"R\",\"name\":\"Rob\"}]\n");
    (void)settings->setBytes(Registry::approvedKey, garbage);
    (void)settings->setBytes(Registry::revokedKey, missingLastSeen);

    auto registry = open();
    EXPECT_TRUE(registry->approved().value().empty());
    EXPECT_TRUE(registry->revoked().value().empty());
    EXPECT_EQ(sink->lines().size(), 2u);

    (void)registry->approve("A", "Ann");
    main->runPending();
    EXPECT_EQ(settings->bytes("quib.devices.approved.v1.unreadable"), garbage);
    EXPECT_EQ(settings->bytes("quib.devices.revoked.v1.unreadable"), missingLastSeen);
    EXPECT_EQ(ids(registry->approved().value()), (std::vector<std::string>{"A"}));

    // A second damaged value does not push out the first; a value of the wrong type is kept too.
    (void)settings->setBytes(Registry::approvedKey, bytesOf("[1]"));
    (void)settings->setString(Registry::revokedKey, "a string");
    sink->clear();
    auto reopened = open();
    EXPECT_EQ(settings->bytes("quib.devices.approved.v1.unreadable"), garbage);
    EXPECT_EQ(settings->bytes("quib.devices.approved.v1.unreadable-2"), bytesOf("[1]"));
    EXPECT_EQ(settings->string("quib.devices.revoked.v1.unreadable-2"), "a string");
    EXPECT_FALSE(settings->contains(Registry::approvedKey));
    EXPECT_EQ(sink->lines().size(), 2u);

    // So is a list nested too deep to read safely.
    const Bytes deep = bytesOf("[{\"id\":" + std::string(70000, '[') + std::string(70000, ']') + ",\"name\":\"x\"}]\n");
    (void)settings->setBytes(Registry::approvedKey, deep);
    EXPECT_TRUE(open()->approved().value().empty());
    EXPECT_EQ(settings->bytes("quib.devices.approved.v1.unreadable-3"), deep);
    Logger::setSink(previousSink);
}

}  // namespace device_registry_tests

namespace device_registry_tests {

// Both lists go to the file in one write, so no end of the process can store half a change.
TEST_F(DeviceRegistry, EachChangeIsStoredInOneWriteAndADeviceInBothListsCountsAsRevoked) {
    const auto folder = std::filesystem::temp_directory_path() / ("quib-registry-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::vector<std::string> writes;
    settings =
        Settings::atPath(folder / "defaults.json", [&](const std::filesystem::path& path, std::string_view text) {
            writes.emplace_back(text);
            return writeFileAtomically(path, text);
        });
    auto registry = open();
    (void)registry->approve("A", "Ann");
    main->runPending();
    writes.clear();
    (void)registry->revoke("A");
    main->runPending();
    ASSERT_EQ(writes.size(), 1u);
    auto stored = Settings::atPath(folder / "defaults.json");
    EXPECT_EQ(textOf(*stored->bytes(Registry::approvedKey)), "[]\n");
    EXPECT_NE(textOf(*stored->bytes(Registry::revokedKey)).find("\"A\""), std::string::npos);

    // Lists stored by separate writes could hold a device in both: it is not trusted.
    (void)stored->setBytes(Registry::approvedKey, *stored->bytes(Registry::revokedKey));
    settings = stored;
    auto reopened = open();
    EXPECT_FALSE(reopened->isApproved("A"));
    EXPECT_TRUE(reopened->isRevoked("A"));
    EXPECT_TRUE(reopened->approved().value().empty());
    std::filesystem::remove_all(folder);
}

// Phones say hello often; their refreshes are gathered into one write within saveDelay, while
// approvals and revocations are written at once, and take every waiting refresh with them.
TEST_F(DeviceRegistry, RefreshesAreSavedTogetherWithinTheDelayAndNeverLost) {
    const auto folder = std::filesystem::temp_directory_path() / ("quib-registry-seen-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    const auto path = folder / "defaults.json";
    int writes = 0;
    bool diskFull = false;
    settings = Settings::atPath(path, [&](const std::filesystem::path& at, std::string_view text) -> Result<void> {
        if (diskFull) return fail("No space left on device");
        ++writes;
        return writeFileAtomically(at, text);
    });
    auto storedNames = [&] {
        std::vector<std::string> names;
        auto stored = Settings::atPath(path);
        for (auto key : {Registry::approvedKey, Registry::revokedKey})
            for (const auto& device :
                 QuibCoder::decode<DeviceList>(textOf(stored->bytes(key).value_or(Bytes{}))).valueOr({}))
                names.push_back(device.id + "=" + device.name);
        return names;
    };
    auto registry = open();
    (void)registry->approve("A", "Ann");
    (void)registry->revoke("R");
    main->runPending();
    writes = 0;

    // The lists are republished with the write, once: each republication tells every phone its status.
    int published = 0;
    const auto counting =
        registry->approved().subscribe([&](const DeviceList&) { ++published; }, {.skipCurrent = true});
    for (int i = 0; i < 50; ++i) (void)registry->seen(i % 2 ? "A" : "R", "hello " + std::to_string(i));
    main->runPending();
    clock->advance(Registry::saveDelay - 1ms);
    main->runPending();
    EXPECT_EQ(writes, 0);
    EXPECT_EQ(published, 0);
    clock->advance(1ms);
    main->runPending();
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(published, 1);
    EXPECT_EQ(registry->approved().value().at(0).name, "hello 49");
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"A=hello 49", "R=hello 48"}));

    // An approval in between saves the waiting refresh with it; the timer then has nothing left.
    (void)registry->seen("A", "Ann again");
    main->runPending();
    (void)registry->approve("B", "Bo");
    main->runPending();
    EXPECT_EQ(writes, 2);
    clock->advance(Registry::saveDelay);
    main->runPending();
    EXPECT_EQ(writes, 2);
    EXPECT_EQ(storedNames(), (std::vector<std::string>{"A=Ann again", "B=Bo", "R=hello 48"}));

    // A refresh that cannot be written is retried; one still waiting at stop is saved then.
    diskFull = true;
    (void)registry->seen("B", "Bo 2");
    main->runPending();
    clock->advance(Registry::saveDelay);
    main->runPending();
    EXPECT_TRUE(registry->hasUnsavedChanges());
    diskFull = false;
    clock->advance(Registry::retryInterval);
    main->runPending();
    EXPECT_FALSE(registry->hasUnsavedChanges());
    EXPECT_EQ(storedNames().at(1), "B=Bo 2");

    (void)registry->seen("B", "Bo 3");
    main->runPending();
    main->post([&] { EXPECT_TRUE(registry->saveNow()); });
    main->runPending();
    EXPECT_EQ(storedNames().at(1), "B=Bo 3");
    (void)registry->seen("B", "Bo 4");
    main->runPending();
    registry.reset();
    EXPECT_EQ(storedNames().at(1), "B=Bo 4");
    std::filesystem::remove_all(folder);
}

// The lists change on the main executor alone: a change made from any other thread stops the
// process in the builds that check queue affinity.
TEST(DeviceRegistryDeathTest, StopsWhenSavedOffTheMainLoop) {
    if (!QUIB_ASSERT_QUEUES) GTEST_SKIP() << "queue affinity is checked only where assertions are";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto clock = std::make_shared<FakeClock>();
    auto main = std::make_shared<MainLoop>(clock);
    auto registry = Registry::create(main, Settings::inMemory(), clock);
    bool saved = false;
    main->post([&] { saved = static_cast<bool>(registry->saveNow()); });
    main->runPending();
    EXPECT_TRUE(saved);
    EXPECT_DEATH((void)registry->saveNow(), "saveNow ran off its queue");
}

}  // namespace device_registry_tests
