#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Runtime/Subprocess.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib::testing {
namespace {

namespace fs = std::filesystem;

// The layer check run over `root`.
Subprocess::Result checkLayers(const fs::path& root) {
    return Subprocess::run(fs::path(QUIB_SOURCE_DIR) / "scripts" / "check-layers", {root.string()}, std::nullopt,
                           std::chrono::seconds(60));
}

// The number of lines of a text file.
std::size_t lineCount(const fs::path& file) { return linesOf(fileContents(file)).size(); }

// A scratch copy of the layers' folders passes the check; each include that points the wrong
// way, planted at the end of one of its files, fails it with that file and line named, and an
// allowed one does not.
TEST(CheckLayers, NamesEveryIncludeThatPointsTheWrongWay) {
    ScratchFolder scratch("layers");
    for (const char* layer : {"Runtime", "Shared", "Platform", "QuibHost"})
        fs::copy(fs::path(QUIB_SOURCE_DIR) / layer, scratch.path / layer, fs::copy_options::recursive);
    const auto clean = checkLayers(scratch.path);
    ASSERT_TRUE(clean.ok) << clean.output;

    struct Plant {
        std::string file;
        std::string include;
        bool allowed = false;
    };
    const std::vector<Plant> plants = {
        {"Runtime/Bytes.hpp", "\"Shared/Json.hpp\""},
        {"Runtime/Clock.cpp", "\"Platform/Permissions.hpp\""},
        {"Runtime/Logger.hpp", "\"QuibHost/Server/HostServer.hpp\""},
        {"Shared/PairingCode.hpp", "\"Platform/Permissions.hpp\""},
        {"Shared/HostMessage.cpp", "\"Platform/Tmux/Tmux.hpp\""},
        {"Platform/Permissions.hpp", "\"Platform/Linux/X11/X11Desktop.hpp\""},
        {"Platform/InputEvent.cpp", "\"Platform/Headless/HeadlessDesktop.hpp\""},
        {"Platform/Headless/HeadlessDesktop.cpp", "\"QuibHost/Targets/EventInjector.hpp\""},
        {"Platform/Linux/CurlPoster.cpp", "\"QuibHost/Approvals/PushSender.hpp\""},
        {"QuibHost/Server/HostServer.cpp", "<X11/Xlib.h>"},
        {"QuibHost/Targets/EventInjector.cpp", "<QWidget>"},
        {"QuibHost/Apps/MenuScanner.cpp", "<libavcodec/avcodec.h>"},
        {"QuibHost/Approvals/PushSender.cpp", "<pulse/simple.h>"},
        {"QuibHost/Apps/Vocabulary.cpp", "<atspi/atspi.h>"},
        {"QuibHost/Reach/RemoteReach.cpp", "<glib.h>"},
        {"QuibHost/Server/HostServerGate.cpp", "<avahi-client/client.h>"},
        {"QuibHost/App/main.cpp", "<X11/Xlib.h>", true},
        {"Platform/Linux/LogindSleepWatch.cpp", "<glib.h>", true},
        {"Platform/DisplayList.hpp", "\"Runtime/Geometry.hpp\"", true},
    };
    for (const auto& plant : plants) {
        SCOPED_TRACE(plant.file + " includes " + plant.include);
        const fs::path file = scratch.path / plant.file;
        const std::string original = fileContents(file);
        ASSERT_FALSE(original.empty());
        std::ofstream(file, std::ios::app) << "#include " << plant.include << "\n";
        const auto checked = checkLayers(scratch.path);
        if (plant.allowed) {
            EXPECT_TRUE(checked.ok) << checked.output;
        } else {
            EXPECT_FALSE(checked.ok);
            const std::string named = plant.file + ":" + std::to_string(lineCount(file)) + ":";
            EXPECT_NE(checked.output.find(named), std::string::npos) << checked.output;
            EXPECT_EQ(linesOf(checked.output).size(), 1u) << checked.output;
        }
        std::ofstream(file, std::ios::trunc) << original;
    }
}

}  // namespace
}  // namespace quib::testing
