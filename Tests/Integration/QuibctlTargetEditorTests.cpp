// The target editor through quibctl against the real quib-host, with a tmux server of the test's
// own: what the pickers list, and the changes the editor's controls store.

#include <gtest/gtest.h>

#include <fstream>

#include "Shared/QuibTarget.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tests/Support/TmuxServer.hpp"

namespace quib {
namespace {

using testing::HostProcess;
using testing::quibctl;
using testing::TempHome;

QuibTarget saved(std::string id, std::string name, QuibTarget::Kind kind) {
    QuibTarget target;
    target.id = std::move(id);
    target.name = std::move(name);
    target.kind = kind;
    return target;
}

// The line quibctl prints for the pane picker's row of this pane.
std::string paneRow(const std::string& spec, const std::string& command, const std::string& id, bool selected) {
    return "editor2\tchoice\t" + spec + "  " + command + (selected ? "\tselected=1" : "") + "\tkey=" + id + "\n";
}

TEST(QuibctlTargetEditor, ThePanePickerListsTheServersPanesAndRefreshFindsANewOne) {
    testing::TmuxServer tmux;  // before the host or any thread starts
    TempHome home;
    ASSERT_TRUE(tmux.startSession("work", home.root()));
    ASSERT_TRUE(tmux.runAs("work:0.0", "claude"));
    const std::string first = tmux.idOf("work:0.0");
    auto pane = saved("T-Pane", "Pane", QuibTarget::Kind::tmux);
    pane.tmuxTarget = first;
    testing::saveTargetsBeforeStart(home, {pane});
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);

    const auto shown = quibctl(home, {"target", "T-Pane"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_NE(shown.out.find("editor1\tfield\tPane\tenabled=1\tlabel=Name\n"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find(paneRow("work:0.0", "claude", first, true)), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("editor2\tvalue\t" + first + "\tlabel=Pane id\n"), std::string::npos) << shown.out;
    EXPECT_EQ(shown.out.find("not running"), std::string::npos) << shown.out;
    EXPECT_TRUE(shown.out.ends_with("end\n")) << shown.out;

    ASSERT_TRUE(tmux.run({"split-window", "-t", "work:0", "-c", home.root().string()}));
    ASSERT_TRUE(tmux.runAs("work:0.1", "codex"));
    const std::string second = tmux.idOf("work:0.1");
    const auto refreshed = quibctl(home, {"target", "T-Pane", "refresh"});
    ASSERT_EQ(refreshed.status, 0) << refreshed.err;
    EXPECT_NE(refreshed.out.find(paneRow("work:0.1", "codex", second, false)), std::string::npos) << refreshed.out;

    // A row of the picker is stored by its tag, or a pane's by the name it shows; anything else
    // is not a row. The target may be named by its name or the beginning of its id.
    EXPECT_EQ(quibctl(home, {"target", "T-Pane", "set", "pane", second}).status, 0);
    const auto nowhere = quibctl(home, {"target", "T-Pane", "set", "pane", "work:0.9"});
    EXPECT_EQ(nowhere.err, "quibctl: \"Pane\" has no row for \"work:0.9\".\n");
    const auto moved = quibctl(home, {"target", "T-Pane"});
    EXPECT_NE(moved.out.find(paneRow("work:0.1", "codex", second, true)), std::string::npos) << moved.out;
    EXPECT_EQ(quibctl(home, {"target", "Pane", "set", "pane", "work:0.0"}).status, 0);
    const auto back = quibctl(home, {"target", "T-P"});
    EXPECT_NE(back.out.find(paneRow("work:0.0", "claude", first, true)), std::string::npos) << back.out;
}

// "Choose an app…" with a file: an application's entry becomes the target's app and names a
// blank target; anything else changes nothing and says so. Return stays off limits while the
// target may not press it.
TEST(QuibctlTargetEditor, ChoosesAnAppFromADesktopEntryAndRefusesWhatIsNone) {
    TempHome home;
    auto app = saved("T-App", " ", QuibTarget::Kind::app);
    app.allowAutoSubmit = false;
    testing::saveTargetsBeforeStart(home, {app});
    const auto entries = home.dataHome() / "applications" / "tools";
    std::filesystem::create_directories(entries);
    std::ofstream(entries / "notes.desktop") << "[Desktop Entry]\nType=Application\nName=Notes\nExec=true\n";
    std::ofstream(home.root() / "readme.desktop") << "[Desktop Entry]\nType=Link\nName=Read me\n";
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);

    const auto refused = quibctl(home, {"target", "T-App", "choose-app", (home.root() / "readme.desktop").string()});
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.err.find("is not the desktop entry of an application; nothing changed."), std::string::npos)
        << refused.err;
    const auto chosen = quibctl(home, {"target", "T-App", "choose-app", (entries / "notes.desktop").string()});
    ASSERT_EQ(chosen.status, 0) << chosen.err;
    EXPECT_EQ(chosen.out, "The target's app is now tools-notes\n");
    const auto shown = quibctl(home, {"target", "T-App"});
    EXPECT_NE(shown.out.find("editor1\tfield\tNotes\tenabled=1\tlabel=Name\n"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("editor2\tfield\ttools-notes\tenabled=1\tlabel=Application ID\n"), std::string::npos);

    EXPECT_NE(quibctl(home, {"target", "T-App", "set", "press-return", "off"}).status, 0);
    EXPECT_EQ(quibctl(home, {"target", "T-App", "set", "allow-return", "on"}).status, 0);
    EXPECT_EQ(quibctl(home, {"target", "T-App", "set", "press-return", "off"}).status, 0);
    EXPECT_NE(quibctl(home, {"target", "T-Gone"}).status, 0);
    const auto after = quibctl(home, {"target", "T-App"});
    EXPECT_NE(after.out.find("editor3\tswitch\tPress Return after sending\ton=0\tenabled=1\n"), std::string::npos)
        << after.out;
}

}  // namespace
}  // namespace quib
