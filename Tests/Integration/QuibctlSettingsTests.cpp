// The settings window's list through quibctl against the real quib-host, headless: add, move,
// remove, and the window printed as it would show.

#include <gtest/gtest.h>

#include "Shared/QuibTarget.hpp"
#include "Tests/Support/Process/HostProcess.hpp"
#include "Tests/Support/TmuxServer.hpp"

namespace quib {
namespace {

using testing::eventuallyShows;
using testing::HostProcess;
using testing::quibctl;
using testing::TempHome;

QuibTarget appTarget(const std::string& id, const std::string& name) {
    QuibTarget target;
    target.id = id;
    target.name = name;
    target.kind = QuibTarget::Kind::app;
    target.bundleID = "org.example." + id;
    target.symbol = "terminal";
    return target;
}

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

TEST(Quibctl, ManagesTheSettingsListAsTheWindowWould) {
    testing::TmuxServer tmux;  // one that never starts, before the host or any thread starts
    TempHome home;
    testing::saveTargetsBeforeStart(home, {appTarget("T-1", "Editor"), appTarget("T-2", "Browser")});
    (void)home.defaults()->setString("quib.activeTarget.v1", "T-1");
    auto host = HostProcess::start(home);
    ASSERT_TRUE(host);

    const auto added = quibctl(home, {"targets", "add"});
    ASSERT_EQ(added.status, 0) << added.err;
    const std::string id = firstLine(added.out);
    EXPECT_EQ(id.size(), 36u) << added.out;
    EXPECT_TRUE(eventuallyShows(home, {"targets"}, "  " + id + "  app  New target"));
    EXPECT_TRUE(eventuallyShows(home, {"targets"}, "* T-1  app  Editor"));

    const auto moved = quibctl(home, {"targets", "move", "2", "--to", "0"});
    EXPECT_EQ(moved.status, 0) << moved.err;
    const auto window = quibctl(home, {"settings", "--select", id + ",T-2"});
    ASSERT_EQ(window.status, 0) << window.err;
    EXPECT_EQ(window.out, "list\tlabel\tNew target\tsymbol=app.dashed\tselected=1\tkey=" + id +
                              "\nlist\tlabel\tEditor\tsymbol=terminal\tkey=T-1"
                              "\nlist\tlabel\tBrowser\tsymbol=terminal\tselected=1\tkey=T-2"
                              "\nlist\tdivider\t"
                              "\nbar\tbutton\t\tsymbol=plus\tenabled=1\tborderless=1"
                              "\nbar\tbutton\t\tsymbol=minus\tenabled=1\tborderless=1"
                              "\nbar\ttext\t3 targets\ttone=secondary\tfont=caption2"
                              "\ndetail\ttext\tNew target\tkey=" +
                              id + "\nend\n");

    const auto removed = quibctl(home, {"targets", "remove", id, "T-1"});
    EXPECT_EQ(removed.status, 0) << removed.err;
    const auto left = quibctl(home, {"settings"});
    EXPECT_NE(left.out.find("bar\ttext\t1 targets\t"), std::string::npos) << left.out;
    EXPECT_NE(left.out.find("detail\ttext\tNo target selected"), std::string::npos) << left.out;

    const auto wrong = quibctl(home, {"targets", "move", "0", "--to", "5"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.err.find("targets move OFFSET... --to N"), std::string::npos) << wrong.err;
    const auto shown = quibctl(home, {"show", "settings", "--select", "T-2"});
    EXPECT_EQ(shown.status, 1);
    EXPECT_EQ(shown.err,
              "quibctl: There is no display: the settings window is not shown. `quibctl settings` prints it.\n");
}

}  // namespace
}  // namespace quib
