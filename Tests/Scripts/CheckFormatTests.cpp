#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "Runtime/Subprocess.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib::testing {
namespace {

namespace fs = std::filesystem;

// The format check run over `root`.
Subprocess::Result checkFormat(const fs::path& root) {
    return Subprocess::run(fs::path(QUIB_SOURCE_DIR) / "scripts" / "check-format", {root.string()}, std::nullopt,
                           std::chrono::seconds(60));
}

const std::string kFormatted = "int answer() { return 42; }\n";
const std::string kUnformatted = "int  answer( ){return 42;}\n";

// A tree outside git, with the repository's style: formatted files pass; each unformatted C++
// file of a checked folder is named, once, and nothing else is.
TEST(CheckFormat, NamesEachUnformattedFileOfTheCheckedFolders) {
    ScratchFolder scratch("format");
    fs::copy(fs::path(QUIB_SOURCE_DIR) / ".clang-format", scratch.path / ".clang-format");
    for (const char* file : {"Runtime/Formatted.cpp", "QuibHost/Server/Formatted.hpp", "Tests/Support/Formatted.h"})
        writeFile(scratch.path / file, kFormatted);
    const auto clean = checkFormat(scratch.path);
    ASSERT_TRUE(clean.ok) << clean.output;

    struct Plant {
        std::string file;
        bool named;
    };
    const std::vector<Plant> plants = {
        {"Runtime/Planted.cpp", true},          {"Shared/Planted.hpp", true},
        {"Platform/Linux/X11/Planted.h", true}, {"QuibHost/Server/Planted.cpp", true},
        {"Tools/quibctl/Planted.cpp", true},    {"Tests/Support/Planted.hpp", true},
        {"Benchmarks/Planted.cpp", true},       {"Docs/Planted.cpp", false},
        {"build/release/Planted.cpp", false},   {"Runtime/Planted.txt", false},
    };
    std::set<std::string> expected;
    for (const auto& plant : plants) {
        writeFile(scratch.path / plant.file, kUnformatted);
        if (plant.named) expected.insert(plant.file + ": differs from clang-format (clang-format -i fixes it)");
    }
    const auto checked = checkFormat(scratch.path);
    EXPECT_FALSE(checked.ok);
    const auto lines = linesOf(checked.output);
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), expected) << checked.output;
    EXPECT_EQ(lines.size(), expected.size()) << checked.output;

    // A style clang-format cannot read fails the check rather than passing it.
    writeFile(scratch.path / ".clang-format", "BasedOnStyle: Nothing\n");
    for (const auto& plant : plants) fs::remove(scratch.path / plant.file);
    const auto broken = checkFormat(scratch.path);
    EXPECT_FALSE(broken.ok);
    EXPECT_NE(broken.output.find("clang-format failed"), std::string::npos) << broken.output;
}

}  // namespace
}  // namespace quib::testing
