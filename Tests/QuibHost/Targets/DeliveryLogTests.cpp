#include "QuibHost/Targets/DeliveryLog.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "Runtime/FakeClock.hpp"
#include "Tests/Support/ScratchFolder.hpp"

// The fixture is named after the type under test, so the tests live outside namespace quib.
namespace delivery_log_tests {

using namespace quib;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using quib::testing::fileContents;
using quib::testing::modeOf;

DeliveryReceipt receipt(bool ok, std::string name, std::int64_t characters, bool submitted, std::string message) {
    return DeliveryReceipt{ok, "T-1", std::move(name), characters, submitted, std::move(message)};
}

class DeliveryLog : public ::testing::Test {
protected:
    quib::testing::ScratchFolder scratch{"deliveries"};
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();  // 2027-01-15T08:00:00Z
    quib::DeliveryLog log{{scratch.path, clock, nullptr}};
    fs::path file = scratch.path / "Quib" / "deliveries.log";
};

TEST_F(DeliveryLog, TheFirstDeliveryMakesAnOwnerOnlyFileAndLaterOnesAppendWholeLines) {
    EXPECT_EQ(log.fileURL(), file);
    log.record(receipt(true, "Editor", 12, true, "Delivered"));
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(fileContents(file), "2027-01-15T08:00:00Z\tdelivered\tEditor\t12 chars\tsubmitted=yes\n");

    clock->setWallTime(clock->wallNow() + 61s);
    log.record(receipt(false, "Agent (work)", 0, false, "Nothing to send"));
    EXPECT_EQ(fileContents(file),
              "2027-01-15T08:00:00Z\tdelivered\tEditor\t12 chars\tsubmitted=yes\n"
              "2027-01-15T08:01:01Z\trefused\tAgent (work)\t0 chars\tsubmitted=no\n");
}

// A name is written as it is, even when it holds the separators themselves.
TEST_F(DeliveryLog, NamesAreWrittenUnchangedAndTheTextNeverAppears) {
    const std::string line =
        quib::DeliveryLog::line(receipt(true, "a\tb\nc", 3, false, "secret text"), clock->wallNow());
    EXPECT_EQ(line, "2027-01-15T08:00:00Z\tdelivered\ta\tb\nc\t3 chars\tsubmitted=no\n");
}

TEST_F(DeliveryLog, AnExistingLogIsAppendedToNeverTruncated) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "earlier line\n";
    ::chmod(file.c_str(), 0640);
    log.record(receipt(true, "Editor", 1, false, "Delivered"));
    EXPECT_EQ(fileContents(file), "earlier line\n2027-01-15T08:00:00Z\tdelivered\tEditor\t1 chars\tsubmitted=no\n");
    EXPECT_EQ(modeOf(file), 0640u);  // only a log the host makes gets its mode
}

TEST_F(DeliveryLog, ALogThatCannotBeOpenedIsLeftAloneAndRecordingStillReturns) {
    fs::create_directories(file / "inside");
    log.record(receipt(true, "Editor", 1, false, "Delivered"));
    EXPECT_TRUE(fs::is_directory(file));
    EXPECT_TRUE(fs::is_directory(file / "inside"));

    quib::DeliveryLog nowhere({std::nullopt, clock, nullptr});
    EXPECT_FALSE(nowhere.fileURL());
    nowhere.record(receipt(true, "Editor", 1, false, "Delivered"));
    EXPECT_FALSE(nowhere.reveal());
}

TEST_F(DeliveryLog, RevealingMakesAnEmptyOwnerOnlyLogOnlyWhenThereIsNone) {
    EXPECT_EQ(*log.reveal(), file);
    EXPECT_EQ(fileContents(file), "");
    EXPECT_EQ(modeOf(file), 0600u);

    log.record(receipt(true, "Editor", 2, true, "Delivered"));
    const std::string before = fileContents(file);
    EXPECT_EQ(*log.reveal(), file);
    EXPECT_EQ(fileContents(file), before);
}

}  // namespace delivery_log_tests
