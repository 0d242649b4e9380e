#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "Runtime/Subprocess.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib::testing {
namespace {

namespace fs = std::filesystem;

void writeTool(const fs::path& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body;
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
}

// scripts/run as a normal user on a machine where nothing is installed yet, over a copy of the
// scripts, with stand-ins for the package tools and cmake that write down how they were called:
// it refuses nothing, asks sudo only to install the run-time packages, builds only the three
// programs and hands its arguments to the host.
TEST(RunScript, InstallsOnlyWhatTheProgramsNeedAndBuildsOnlyThem) {
    ScratchFolder scratch("quib-run-script");
    const fs::path root = scratch.path / "tree";
    const fs::path tools = scratch.path / "bin";
    const fs::path calls = scratch.path / "calls";
    fs::create_directories(root);
    fs::create_directories(tools);
    fs::copy(fs::path(QUIB_SOURCE_DIR) / "scripts", root / "scripts", fs::copy_options::recursive);
    writeTool(tools / "id", "echo 1000\n");
    writeTool(tools / "dpkg-query", "exit 1\n");
    writeTool(tools / "sudo", "echo \"sudo $1\" >>" + calls.string() + "\nexec \"$@\"\n");
    writeTool(tools / "apt-get", "echo \"apt-get $*\" >>" + calls.string() + "\n");
    // The build folder follows "--build"; the host made there says what it was given.
    writeTool(tools / "cmake", "echo \"cmake $*\" >>" + calls.string() +
                                   "\nif [ \"$1\" = --build ]; then mkdir -p \"$2/QuibHost\"; "
                                   "printf '#!/bin/sh\\necho \"host $*\"\\n' >\"$2/QuibHost/quib-host\"; chmod +x "
                                   "\"$2/QuibHost/quib-host\"; fi\n");

    const auto ran = Subprocess::run(
        "/usr/bin/env",
        {"PATH=" + tools.string() + ":/usr/bin:/bin", "CI=", (root / "scripts" / "run").string(), "--help"},
        std::nullopt, std::chrono::seconds(60));
    ASSERT_TRUE(ran.ok) << ran.output;
    EXPECT_NE(ran.output.find("host --help"), std::string::npos) << ran.output;
    EXPECT_NE(ran.output.find("quibctl approve DEVICE-ID"), std::string::npos) << ran.output;
    EXPECT_EQ(ran.output.find("running as root"), std::string::npos) << ran.output;

    const std::string log = fileContents(calls);
    EXPECT_NE(log.find("sudo apt-get"), std::string::npos) << log;
    const auto install = log.find("apt-get -o DPkg::Lock::Timeout=600 install");
    ASSERT_NE(install, std::string::npos) << log;
    const std::string installed = log.substr(install, log.find('\n', install) - install);
    EXPECT_NE(installed.find(" libx11-dev "), std::string::npos) << installed;
    EXPECT_NE(installed.find(" tmux "), std::string::npos) << installed;
    for (const char* testOnly : {" libgtest-dev", " xvfb", " jwm", " clang", " libbenchmark-dev"})
        EXPECT_EQ(installed.find(testOnly), std::string::npos) << testOnly << " in " << installed;
    EXPECT_NE(log.find("--target quib-host quibctl quib-phone"), std::string::npos) << log;
}

}  // namespace
}  // namespace quib::testing
