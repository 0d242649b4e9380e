#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "Runtime/Subprocess.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

fs::path onPath(const char* name) { return Subprocess::onPath(name, Subprocess::searchPath()).value_or(name); }

std::set<std::string> filesIn(const fs::path& folder) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (!entry.is_directory()) files.insert(fs::relative(entry.path(), folder).string());
    return files;
}

// The install tree holds the host and its control tool in bin, and the application entry and
// icon that put the host in the app menu; uninstalling takes all of it away, and the autostart
// entry the host wrote at login too.
TEST(Install, InstallsTheHostTheControlToolAndTheirMenuEntryAndUninstallsThemAll) {
    ScratchFolder prefix("install");
    ScratchFolder config("install-config");
    const auto installed = Subprocess::run(
        onPath("cmake"), {"--install", QUIB_BINARY_DIR, "--prefix", prefix.path.string()}, std::nullopt, 120s);
    ASSERT_TRUE(installed.ok) << installed.output;
    EXPECT_EQ(filesIn(prefix.path),
              (std::set<std::string>{"bin/quib-host", "bin/quibctl", "share/applications/quib-host.desktop",
                                     "share/icons/hicolor/scalable/apps/quib-host.svg"}));
    EXPECT_TRUE((fs::status(prefix.path / "bin" / "quib-host").permissions() & fs::perms::owner_exec) !=
                fs::perms::none);
    const std::string entry = fileContents(prefix.path / "share" / "applications" / "quib-host.desktop");
    EXPECT_NE(entry.find("\nExec=/"), std::string::npos) << entry;
    EXPECT_NE(entry.find("/quib-host\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nIcon=quib-host\n"), std::string::npos) << entry;

    fs::create_directories(config.path / "autostart");
    { std::ofstream(config.path / "autostart" / "quib-host.desktop") << "[Desktop Entry]\n"; }
    const auto removed =
        Subprocess::run(onPath("env"),
                        {"XDG_CONFIG_HOME=" + config.path.string(), "make", "-s", "-C", QUIB_SOURCE_DIR,
                         "uninstall-host", "PREFIX=" + prefix.path.string(), std::string("BUILD=") + QUIB_BINARY_DIR},
                        std::nullopt, 60s);
    ASSERT_TRUE(removed.ok) << removed.output;
    EXPECT_EQ(filesIn(prefix.path), std::set<std::string>{});
    EXPECT_EQ(filesIn(config.path), std::set<std::string>{});
}

// A bare `make` builds and installs nothing; `make install-host` installs the run-time packages
// only, then configures the release build with the prefix compiled in, builds there and
// installs from it.
TEST(Install, MakeBuildsAndTheInstallTargetReusesTheReleaseBuild) {
    const auto bare = Subprocess::run(onPath("make"), {"-n", "-C", QUIB_SOURCE_DIR}, std::nullopt, 30s);
    ASSERT_TRUE(bare.ok) << bare.output;
    EXPECT_NE(bare.output.find("scripts/build release quib-host quibctl quib-phone"), std::string::npos) << bare.output;
    for (const char* never : {"install", "sudo", "setup"})
        EXPECT_EQ(bare.output.find(never), std::string::npos) << never;

    const auto planned = Subprocess::run(onPath("make"), {"-n", "-C", QUIB_SOURCE_DIR, "install-host", "PREFIX=/opt/q"},
                                         std::nullopt, 30s);
    ASSERT_TRUE(planned.ok) << planned.output;
    const auto& plan = planned.output;
    const auto packages = plan.find("scripts/setup run\n");
    const auto configure =
        plan.find("-B \"build/release\" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=\"/opt/q\"");
    const auto build = plan.find("--build \"build/release\" --target quib-host quibctl");
    const auto install = plan.find("cmake --install \"build/release\"");
    ASSERT_NE(packages, std::string::npos) << plan;
    ASSERT_NE(configure, std::string::npos) << plan;
    ASSERT_NE(build, std::string::npos) << plan;
    ASSERT_NE(install, std::string::npos) << plan;
    EXPECT_LT(packages, configure);
    EXPECT_LT(configure, build);
    EXPECT_LT(build, install);
}

}  // namespace
}  // namespace quib::testing
