#include <gtest/gtest.h>

#include <fstream>

#include "Runtime/AtomicFile.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib {
namespace {

namespace fs = std::filesystem;

// A file set aside is named after the moment in UTC, as a person reads it; a second one set
// aside in the same second gets a number after it, and neither replaces the other.
TEST(AtomicFile, SetsAFileAsideUnderAReadableUtcStamp) {
    testing::ScratchFolder scratch{"aside"};
    const fs::path file = scratch.path / "defaults.json";
    const WallTime moment = std::chrono::sys_days{std::chrono::December / 10 / 2026} + std::chrono::hours(9) +
                            std::chrono::minutes(15) + std::chrono::seconds(4);
    std::vector<std::string> names;
    for (const char* contents : {"{broken", "{broken again"}) {
        std::ofstream(file) << contents;
        const auto aside = setFileAside(file, moment);
        ASSERT_TRUE(aside) << aside.error().message;
        names.push_back(aside->filename().string());
        EXPECT_FALSE(fs::exists(file));
        EXPECT_EQ(testing::fileContents(*aside), contents);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"defaults.json.unreadable-2026-12-10T09-15-04Z",
                                               "defaults.json.unreadable-2026-12-10T09-15-04Z-1"}));
}

}  // namespace
}  // namespace quib
