#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>

#include "Runtime/Subprocess.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

fs::path onPath(const char* name) { return Subprocess::onPath(name, Subprocess::searchPath()).value_or(name); }

// The install tree holds the host and its control tool in bin, and nothing else.
TEST(Install, InstallsTheHostAndTheControlToolOnly) {
    ScratchFolder prefix("install");
    const auto installed = Subprocess::run(onPath("cmake"), {"--install", QUIB_BINARY_DIR, "--prefix", prefix.path.string()},
                                           std::nullopt, 120s);
    ASSERT_TRUE(installed.ok) << installed.output;
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(prefix.path))
        if (!entry.is_directory()) files.insert(fs::relative(entry.path(), prefix.path).string());
    EXPECT_EQ(files, (std::set<std::string>{"bin/quib-host", "bin/quibctl"}));
    EXPECT_TRUE((fs::status(prefix.path / "bin" / "quib-host").permissions() & fs::perms::owner_exec) != fs::perms::none);
}

// `make install-host` builds for release with the prefix compiled in, then installs there.
TEST(Install, TheMakeTargetConfiguresBuildsAndInstallsIntoThePrefix) {
    const auto planned = Subprocess::run(onPath("make"), {"-n", "-C", QUIB_SOURCE_DIR, "install-host", "PREFIX=/opt/q"},
                                         std::nullopt, 30s);
    ASSERT_TRUE(planned.ok) << planned.output;
    const auto& plan = planned.output;
    const auto configure = plan.find("-DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=\"/opt/q\"");
    const auto build = plan.find("--target quib-host quibctl");
    const auto install = plan.find("cmake --install");
    ASSERT_NE(configure, std::string::npos) << plan;
    ASSERT_NE(build, std::string::npos) << plan;
    ASSERT_NE(install, std::string::npos) << plan;
    EXPECT_LT(configure, build);
    EXPECT_LT(build, install);
}

}  // namespace
}  // namespace quib::testing
