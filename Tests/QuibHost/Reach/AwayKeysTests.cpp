#include "QuibHost/Reach/AwayKeys.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "Runtime/Logger.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib {
namespace {

using testing::ScratchFolder;

class AwayKeys : public ::testing::Test {
protected:
    AwayKeys() { previousSink = Logger::setSink(log); }
    ~AwayKeys() override { Logger::setSink(previousSink); }

    std::optional<Bytes> stored(const std::string& deviceID) const {
        return secrets.read(SecretStore::awayService, deviceID);
    }
    std::size_t linesWith(const std::string& text) const {
        const auto lines = log->lines();
        return static_cast<std::size_t>(std::count_if(
            lines.begin(), lines.end(), [&](const std::string& line) { return line.find(text) != std::string::npos; }));
    }

    ScratchFolder scratch{"quib-keys"};
    SecretStore secrets{scratch.path / "secrets"};
    std::set<std::string> approved;
    quib::AwayKeys keys{secrets, [this] { return approved; }};
    std::shared_ptr<CapturingLogSink> log = std::make_shared<CapturingLogSink>();
    std::shared_ptr<LogSink> previousSink;
};

TEST_F(AwayKeys, IssuingTwiceGivesTheSameKeyAndLogsOnce) {
    const auto first = keys.issue("D-A");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->size(), 32u);
    EXPECT_EQ(keys.issue("D-A"), first);
    EXPECT_EQ(stored("D-A"), first);
    EXPECT_EQ(linesWith("away: issued a key for <private>"), 1u);
    EXPECT_NE(keys.issue("D-B"), first);
}

TEST_F(AwayKeys, KeyOfAnotherLengthIsOfferedUntilTheNextIssueReplacesIt) {
    approved = {"D-A"};
    const Bytes shortKey(16, 0x42);
    ASSERT_TRUE(secrets.write(shortKey, SecretStore::awayService, "D-A"));
    ASSERT_EQ(keys.listenerKeys().size(), 1u);
    EXPECT_EQ(keys.listenerKeys()[0], (QuibTransport::Key{"quib.away.1.D-A", shortKey}));

    const auto issued = keys.issue("D-A");
    ASSERT_TRUE(issued);
    EXPECT_EQ(issued->size(), 32u);
    EXPECT_EQ(keys.listenerKeys()[0].material, *issued);
}

TEST_F(AwayKeys, ListenerKeysAreThoseOfApprovedDevicesWithAKey) {
    EXPECT_TRUE(keys.listenerKeys().empty());
    approved = {"D-A", "D-B"};
    EXPECT_TRUE(keys.listenerKeys().empty()) << "approving a device gave it a key";
    const auto keyA = keys.issue("D-A");
    (void)keys.issue("D-C");  // no longer approved: its key stays stored but is not offered
    EXPECT_EQ(keys.listenerKeys(), (std::vector<QuibTransport::Key>{{"quib.away.1.D-A", *keyA}}));
    approved = {"D-B"};
    EXPECT_TRUE(keys.listenerKeys().empty());
}

TEST_F(AwayKeys, ForgettingDeletesTheKeyAndSaysSoOnlyWhenThereWasOne) {
    (void)keys.issue("D-A");
    keys.forget("D-A");
    EXPECT_FALSE(stored("D-A"));
    EXPECT_EQ(linesWith("away: dropped the key for <private>"), 1u);
    keys.forget("D-A");
    keys.forget("D-never");
    EXPECT_EQ(linesWith("away: dropped the key for"), 1u);
}

TEST_F(AwayKeys, KeyThatCannotBeStoredIsNotIssued) {
    // The secrets folder's place is taken by a file.
    std::filesystem::create_directories(scratch.path);
    { std::ofstream(scratch.path / "blocked") << "x"; }
    const quib::AwayKeys blocked{SecretStore(scratch.path / "blocked"), [] { return std::set<std::string>{"D-A"}; }};
    EXPECT_FALSE(blocked.issue("D-A"));
    EXPECT_EQ(linesWith("away: issued a key"), 0u);
}

}  // namespace
}  // namespace quib
