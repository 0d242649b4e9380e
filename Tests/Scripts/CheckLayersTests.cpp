#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "Runtime/Subprocess.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib::testing {
namespace {

namespace fs = std::filesystem;

// The layer check run over `root`, or with `--table`.
Subprocess::Result checkLayers(const std::string& argument) {
    return Subprocess::run(fs::path(QUIB_SOURCE_DIR) / "scripts" / "check-layers", {argument}, std::nullopt,
                           std::chrono::seconds(60));
}

// An include planted at the end of a file of the tree (made when its folder has none yet), and a
// part of the reason the check gives when it points the wrong way; an empty reason means that
// the include is allowed.
struct Plant {
    std::string file;
    std::string include;
    std::string reason;
};

const std::string kNoDesktop = " headers only in Platform/Linux/";
const std::string kNoBackend = "a backend is included by path only from";

// Every rule, broken once, next to includes that the same rule allows.
const std::vector<Plant> kPlants = {
    // Each folder of the table, reaching a folder above it or beside it.
    {"Runtime/Bytes.hpp", "\"Shared/Json.hpp\"", "Runtime/ may not include Shared/"},
    {"Runtime/Clock.cpp", "\"Platform/Permissions.hpp\"", "Runtime/ may not include Platform (root)"},
    {"Shared/HostMessage.cpp", "\"Platform/Permissions.hpp\"", "Shared/ may not include Platform (root)"},
    {"Shared/HostMessage.cpp", "\"Runtime/Bytes.hpp\"", ""},
    {"Platform/Permissions.hpp", "\"Platform/Freedesktop/DesktopEntry.hpp\"",
     "Platform (root) may not include Platform/Freedesktop/"},
    {"Platform/DisplayList.hpp", "\"Runtime/Geometry.hpp\"", ""},
    {"Platform/Freedesktop/DesktopEntry.cpp", "\"QuibHost/Targets/TargetRouter.hpp\"",
     "Platform/Freedesktop/ may not include QuibHost/Targets/"},
    {"Platform/Freedesktop/DesktopEntry.cpp", "\"Platform/Permissions.hpp\"", ""},
    {"Platform/Tmux/Planted.cpp", "\"Platform/Freedesktop/DesktopEntry.hpp\"",
     "Platform/Tmux/ may not include Platform/Freedesktop/"},
    {"Platform/Headless/HeadlessDesktop.cpp", "\"QuibHost/Targets/EventInjector.hpp\"",
     "Platform/Headless/ may not include QuibHost/Targets/"},
    {"Platform/Simulated/SimulatedDesktop.cpp", "\"Platform/Headless/HeadlessDesktop.hpp\"", ""},
    {"Platform/Linux/X11/X11Desktop.cpp", "\"Platform/Tmux/Tmux.hpp\"", ""},
    {"QuibHost/Connection/Planted.cpp", "\"QuibHost/Server/HostServer.hpp\"",
     "QuibHost/Connection/ may not include QuibHost/Server/"},
    {"QuibHost/Targets/TargetRouter.cpp", "\"QuibHost/Interface/MenuView.hpp\"",
     "QuibHost/Targets/ may not include QuibHost/Interface/"},
    {"QuibHost/Targets/TargetRouter.cpp", "\"QuibHost/Apps/AppCatalog.hpp\"",
     "QuibHost/Targets/ may not include QuibHost/Apps/"},
    {"QuibHost/Apps/Vocabulary.cpp", "\"QuibHost/Targets/TargetRouter.hpp\"", ""},
    {"QuibHost/Apps/Vocabulary.cpp", "\"QuibHost/Streaming/PanelStreamer.hpp\"",
     "QuibHost/Apps/ may not include QuibHost/Streaming/"},
    {"QuibHost/Approvals/ApprovalBroker.cpp", "\"QuibHost/Targets/TargetRouter.hpp\"",
     "QuibHost/Approvals/ may not include QuibHost/Targets/"},
    {"QuibHost/Reach/RemoteReach.cpp", "\"QuibHost/Server/HostServer.hpp\"",
     "QuibHost/Reach/ may not include QuibHost/Server/"},
    {"QuibHost/Streaming/PanelStreamer.cpp", "\"QuibHost/Server/HostServer.hpp\"",
     "QuibHost/Streaming/ may not include QuibHost/Server/"},
    {"QuibHost/Streaming/PanelStreamer.cpp", "\"QuibHost/Connection/TlsConnection.hpp\"", ""},
    {"QuibHost/Server/HostServer.cpp", "\"QuibHost/App/QuibHostApp.hpp\"",
     "QuibHost/Server/ may not include QuibHost/App/"},
    {"QuibHost/Server/HostServer.cpp", "\"QuibHost/Panel/MenuViewModel.hpp\"",
     "QuibHost/Server/ may not include QuibHost/Panel/"},
    {"QuibHost/Server/HostServer.cpp", "\"QuibHost/Streaming/PanelStreamer.hpp\"", ""},
    {"QuibHost/Panel/Planted.cpp", "\"QuibHost/Interface/MenuView.hpp\"",
     "QuibHost/Panel/ may not include QuibHost/Interface/"},
    {"QuibHost/Panel/Planted.cpp", "\"QuibHost/Server/HostServer.hpp\"", ""},
    {"QuibHost/Interface/MenuView.cpp", "\"QuibHost/App/QuibHostApp.hpp\"",
     "QuibHost/Interface/ may not include QuibHost/App/"},
    {"QuibHost/Interface/MenuView.cpp", "\"QuibHost/Server/HostServer.hpp\"",
     "QuibHost/Interface/ may not include QuibHost/Server/"},
    {"QuibHost/Interface/MenuView.cpp", "\"QuibHost/Panel/MenuViewModel.hpp\"", ""},
    {"QuibHost/App/main.cpp", "\"QuibHost/Interface/QtInterface.hpp\"", ""},
    {"QuibHost/App/main.cpp", "\"Tests/Support/ScratchFolder.hpp\"", "QuibHost/App/ may not include Tests/Support/"},
    {"Tools/quibctl/main.cpp", "\"Tests/Support/ScratchFolder.hpp\"", "Tools/ may not include Tests/Support/"},
    {"Tools/quibctl/main.cpp", "\"QuibHost/App/ControlSocket.hpp\"", ""},
    {"Benchmarks/LineFramingBenchmark.cpp", "\"Tests/Integration/HostProcess.hpp\"",
     "Benchmarks/ may not include Tests/"},
    {"Benchmarks/LineFramingBenchmark.cpp", "\"Tests/Support/ScratchFolder.hpp\"", ""},
    {"Benchmarks/LineFramingBenchmark.cpp", "\"Benchmarks/Support/TestDisplay.hpp\"", ""},
    // A folder the table does not know.
    {"QuibHost/Gadgets/Planted.cpp", "\"Runtime/Bytes.hpp\"", "QuibHost/Gadgets/ has no row in the table"},
    // A backend by its path, from outside the backends and the composition root.
    {"Shared/PairingCode.hpp", "\"Platform/Linux/X11/X11Desktop.hpp\"", kNoBackend},
    {"QuibHost/Targets/TargetRouter.cpp", "\"Platform/Headless/HeadlessDesktop.hpp\"", kNoBackend},
    {"Platform/Freedesktop/DesktopEntry.cpp", "\"Platform/Simulated/SimulatedDesktop.hpp\"", kNoBackend},
    {"QuibHost/App/main.cpp", "\"Platform/Linux/X11/X11Desktop.hpp\"", ""},
    {"Tools/quibctl/main.cpp", "\"Platform/Headless/HeadlessDesktop.hpp\"", ""},
    // The desktop's, the toolkit's, the media's and the bus's headers.
    {"Runtime/Bytes.hpp", "<X11/Xlib.h>", "X11" + kNoDesktop},
    {"Shared/HostMessage.cpp", "\"X11/Xlib.h\"", "X11" + kNoDesktop},
    {"Platform/Permissions.hpp", "<X11/Xlib.h>", "X11" + kNoDesktop},
    {"Platform/Headless/HeadlessDesktop.cpp", "<X11/Xlib.h>", "X11" + kNoDesktop},
    {"QuibHost/Targets/TargetRouter.cpp", "<QWidget>", "Qt" + kNoDesktop},
    {"QuibHost/Panel/Planted.cpp", "<QtCore/QObject>", "Qt" + kNoDesktop},
    {"QuibHost/Streaming/PanelStreamer.cpp", "<libavcodec/avcodec.h>", "FFmpeg" + kNoDesktop},
    {"QuibHost/Apps/Vocabulary.cpp", "<pulse/simple.h>", "PulseAudio" + kNoDesktop},
    {"QuibHost/Apps/MenuScanner.cpp", "<atspi/atspi.h>", "AT-SPI" + kNoDesktop},
    {"QuibHost/Reach/RemoteReach.cpp", "<glib.h>", "GLib" + kNoDesktop},
    {"QuibHost/Reach/RemoteReach.cpp", "<gio/gio.h>", "GLib" + kNoDesktop},
    {"QuibHost/Server/HostServerGate.cpp", "<avahi-client/client.h>", "Avahi" + kNoDesktop},
    {"QuibHost/Approvals/ApprovalBroker.cpp", "<curl/curl.h>", "libcurl" + kNoDesktop},
    {"QuibHost/Server/HostServer.cpp", "<systemd/sd-bus.h>", "sd-bus" + kNoDesktop},
    {"QuibHost/Streaming/PanelStreamer.cpp", "<xcb/xcb.h>", "xcb" + kNoDesktop},
    {"Platform/Freedesktop/DesktopEntry.cpp", "<gdk-pixbuf/gdk-pixbuf.h>", "gdk-pixbuf" + kNoDesktop},
    {"QuibHost/Connection/Planted.cpp", "<dbus/dbus.h>", "D-Bus" + kNoDesktop},
    {"Runtime/Clock.cpp", "<openssl/ssl.h>", ""},
    {"Platform/Linux/LogindSleepWatch.cpp", "<glib.h>", ""},
    {"QuibHost/Interface/MenuView.cpp", "<QWidget>", ""},
    {"QuibHost/App/main.cpp", "<X11/Xlib.h>", ""},
    {"Tools/quibctl/main.cpp", "<curl/curl.h>", ""},
    {"Benchmarks/LineFramingBenchmark.cpp", "<xcb/xcb.h>", ""},
    // Paths that climb, names from the includer's own folder, and names outside the tree.
    {"QuibHost/Targets/TargetRouter.cpp", "\"../Platform/Permissions.hpp\"", "an include never climbs with .."},
    {"Platform/Linux/X11/X11Desktop.cpp", "\"../../Runtime/Bytes.hpp\"", "an include never climbs with .."},
    {"Runtime/Bytes.hpp", "\"Foo/Bar.hpp\"", ""},
    {"Runtime/Clock.cpp", "\"Bytes.hpp\"", ""},
    {"Platform/Permissions.hpp", "\"Freedesktop/DesktopEntry.hpp\"",
     "Platform (root) may not include Platform/Freedesktop/"},
    {"QuibHost/Reach/RemoteReach.cpp", "\"Wire/StunWire.hpp\"", ""},
};

// A scratch copy of the checked folders passes the check. With every plant above at once, it
// names exactly the planted lines that point the wrong way, each with its reason, and no other.
TEST(CheckLayers, NamesEachIncludeThatPointsTheWrongWay) {
    ScratchFolder scratch("layers");
    for (const char* top : {"Runtime", "Shared", "Platform", "QuibHost", "Tools", "Benchmarks"})
        fs::copy(fs::path(QUIB_SOURCE_DIR) / top, scratch.path / top, fs::copy_options::recursive);
    const auto clean = checkLayers(scratch.path.string());
    ASSERT_TRUE(clean.ok) << clean.output;

    std::map<std::string, std::size_t> lines;
    std::map<std::string, const Plant*> expected;
    for (const auto& plant : kPlants) {
        const fs::path file = scratch.path / plant.file;
        if (!lines.count(plant.file)) {
            if (!fs::exists(file)) writeFile(file, "// A file of a new folder.\n");
            lines[plant.file] = linesOf(fileContents(file)).size();
        }
        std::ofstream(file, std::ios::app) << "#include " << plant.include << "\n";
        const std::string named = plant.file + ":" + std::to_string(++lines[plant.file]);
        if (!plant.reason.empty()) expected[named] = &plant;
    }
    const auto checked = checkLayers(scratch.path.string());
    EXPECT_FALSE(checked.ok);
    std::map<std::string, std::string> reported;
    for (const auto& line : linesOf(checked.output)) {
        const auto second = line.find(':', line.find(':') + 1);
        reported[line.substr(0, second)] = line;
    }
    for (const auto& [named, plant] : expected) {
        SCOPED_TRACE(plant->file + " includes " + plant->include);
        ASSERT_TRUE(reported.count(named)) << checked.output;
        EXPECT_NE(reported[named].find(": " + plant->reason), std::string::npos) << reported[named];
        EXPECT_NE(reported[named].find(": #include " + plant->include), std::string::npos) << reported[named];
    }
    for (const auto& [named, line] : reported) EXPECT_TRUE(expected.count(named)) << "not planted: " << line;
}

// The README's Layout shows the table the check holds, word for word.
TEST(CheckLayers, TableIsTheReadmes) {
    const auto table = checkLayers("--table");
    ASSERT_TRUE(table.ok) << table.output;
    ASSERT_NE(table.output.find("| `QuibHost/Streaming` | core, `Connection`, `Targets` |"), std::string::npos)
        << table.output;
    EXPECT_NE(fileContents(fs::path(QUIB_SOURCE_DIR) / "README.md").find(table.output), std::string::npos)
        << "the README's Layout should hold what scripts/check-layers --table prints:\n"
        << table.output;
}

}  // namespace
}  // namespace quib::testing
