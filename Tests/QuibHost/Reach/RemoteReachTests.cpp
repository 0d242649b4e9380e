#include "QuibHost/Reach/RemoteReach.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "Runtime/MainLoop.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib {
namespace {

using testing::ScratchFolder;

class RemoteReach : public ::testing::Test {
protected:
    quib::RemoteReach make(const std::filesystem::path& folder) {
        return quib::RemoteReach({main, settings, SecretStore(folder), [this] { return approved; }});
    }

    ScratchFolder scratch{"quib-reach"};
    std::shared_ptr<MainLoop> main = std::make_shared<MainLoop>();
    std::shared_ptr<Settings> settings = Settings::inMemory();
    std::set<std::string> approved{"D-A"};
    quib::RemoteReach reach = make(scratch.path / "secrets");
};

TEST_F(RemoteReach, OnlyAnApprovedLocalPhoneIsHandedItsKeyWhileAwayAccessIsOn) {
    const auto off = reach.payload("D-A", true);
    EXPECT_EQ(off, RemoteAccessPayload{});
    reach.setEnabled(true);
    EXPECT_EQ(settings->boolean(quib::RemoteReach::enabledKey), true);

    const auto local = reach.payload("D-A", true);
    EXPECT_TRUE(local.isEnabled);
    ASSERT_TRUE(local.issuedKey());
    EXPECT_EQ(local.issuedKey()->identity, "quib.away.1.D-A");
    EXPECT_FALSE(local.unavailable);
    EXPECT_EQ(reach.payload("D-A", true), local) << "a second payload handed out another key";

    for (const auto& payload : {reach.payload("D-A", false), reach.payload("D-W", true), reach.payload(std::nullopt, true)}) {
        EXPECT_TRUE(payload.isEnabled);
        EXPECT_FALSE(payload.keyIdentity);
        EXPECT_FALSE(payload.keyMaterial);
        EXPECT_FALSE(payload.unavailable);
    }
    EXPECT_EQ(reach.listenerKeys(), (std::vector<QuibTransport::Key>{{"quib.away.1.D-A", *local.keyMaterial}}));
}

TEST_F(RemoteReach, KeyThatCannotBeStoredIsToldAsTheReason) {
    { std::ofstream(scratch.path / "file") << "x"; }
    auto blocked = make(scratch.path / "file");
    blocked.setEnabled(true);
    const auto payload = blocked.payload("D-A", true);
    EXPECT_FALSE(payload.keyIdentity);
    EXPECT_EQ(payload.unavailable, "This Mac's Keychain would not store the away key");
}

TEST_F(RemoteReach, SwitchIsStoredOnlyWhenItChanges) {
    reach.setEnabled(false);
    EXPECT_FALSE(settings->contains(quib::RemoteReach::enabledKey));
    reach.setEnabled(true);
    reach.setEnabled(false);
    EXPECT_EQ(settings->boolean(quib::RemoteReach::enabledKey), false);
}

}  // namespace
}  // namespace quib
