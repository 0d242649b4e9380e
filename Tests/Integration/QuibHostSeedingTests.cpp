// The real quib-host's first target list, seeded from the agents running in a tmux server of the
// test's own and from application folders of its own, and the agents it offers afterwards.

#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "Tests/Support/Process/HostProcess.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/TmuxServer.hpp"
#include "Tools/PhoneClient/PhoneClient.hpp"

namespace quib {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::HostProcess;
using testing::TempHome;

std::vector<std::string> namesOf(const Json& targets) {
    std::vector<std::string> names;
    for (const auto& target : targets) names.push_back(target["name"]);
    return names;
}

// The provisional targets of the first `targets` broadcast that offers `count` of them, within
// `timeout`.
Json offered(PhoneClient& phone, std::size_t count, std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        auto targets = phone.receiveCase("targets", left);
        if (!targets) break;
        Json provisional = Json::array();
        for (const auto& target : (*targets)["_0"])
            if (target.value("isProvisional", false)) provisional.push_back(target);
        if (provisional.size() == count) return provisional;
    }
    return Json::array();
}

bool paneShows(const testing::TmuxServer& tmux, const std::string& pane, const std::string& text) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (tmux.run({"capture-pane", "-p", "-J", "-t", pane}).value_or("").find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

TEST(QuibHost, AFirstStartSeedsTheAgentsAndAppsAndLaterAgentsAreOfferedUntilUsed) {
    testing::TmuxServer tmux;  // before the host or any thread starts
    TempHome home;
    ASSERT_TRUE(tmux.startSession("work", home.root(), 3));
    ASSERT_TRUE(tmux.runAs("work:0.0", "claude"));
    ASSERT_TRUE(tmux.runAs("work:0.1", "claude"));
    const fs::path system = home.root() / "share" / "applications";
    const std::string entry = "[Desktop Entry]\nType=Application\nExec=true\n";
    testing::writeFile(system / "org.gnome.Terminal.desktop", entry + "Name=GNOME Terminal\n");
    testing::writeFile(system / "kitty.desktop", entry + "Name=kitty\n");
    testing::writeFile(home.dataHome() / "gnome-shell" / "application_state",
                       "<?xml version=\"1.0\"?>\n<application-state>\n<context id=\"\">\n"
                       "<application id=\"org.gnome.Terminal.desktop\" score=\"40\" last-seen=\"0\"/>\n"
                       "</context>\n</application-state>\n");
    testing::approveBeforeStart(home, {testing::adasPhone});
    auto host = HostProcess::start(home, std::nullopt, {{"XDG_DATA_DIRS", (home.root() / "share").string()}});
    ASSERT_TRUE(host);
    ASSERT_TRUE(testing::eventuallyShows(home, {"targets"}, "Focused")) << host->log();

    auto ada = testing::welcomed(*host);
    ASSERT_TRUE(ada.phone);
    const Json seeded = ada.welcome["targets"];
    ASSERT_EQ(namesOf(seeded),
              (std::vector<std::string>{"claude (work:0.0)", "claude (work:0.1)", "Terminal", "Kitty", "Focused"}));
    EXPECT_EQ(ada.welcome["status"]["activeTargetID"], seeded[0]["id"]);
    EXPECT_EQ(seeded[0]["symbol"], "sparkle");
    EXPECT_EQ(seeded[1]["symbol"], "sparkle");
    EXPECT_EQ(seeded[0]["tmuxTarget"], tmux.idOf("work:0.0"));
    EXPECT_EQ(seeded[2]["bundleID"], "org.gnome.Terminal");
    EXPECT_EQ(seeded[3]["bundleID"], "kitty");

    // A seeded agent's pane ends; the tool's refresh finds it gone.
    ASSERT_TRUE(tmux.run({"kill-pane", "-t", tmux.idOf("work:0.1")}));
    EXPECT_EQ(testing::quibctl(home, {"refresh"}).status, 0);
    EXPECT_TRUE(testing::eventuallyShows(home, {"targets"}, "claude (work:0.1)  profile shell  (no live pane)"));

    // Two new agents are offered while the phone stays connected, at the host's next look.
    const auto claude = tmux.run({"split-window", "-d", "-P", "-F", "#{pane_id}", "-t", "work:0"});
    const auto codex = tmux.run({"split-window", "-d", "-P", "-F", "#{pane_id}", "-t", "work:0"});
    ASSERT_TRUE(claude && codex);
    ASSERT_TRUE(tmux.runAs(*claude, "claude"));
    ASSERT_TRUE(tmux.runAs(*codex, "codex"));
    const Json provisional = offered(*ada.phone, 2, 20s);
    ASSERT_EQ(provisional.size(), 2u) << host->log();
    std::map<std::string, std::string> byName;
    for (const auto& target : provisional) byName[target["name"]] = target["id"];
    EXPECT_EQ(byName["claude (work)"], "pane:" + *claude);
    EXPECT_EQ(byName["codex (work)"], "pane:" + *codex);

    // Using one delivers there and saves it under the offered id.
    const std::string used = "pane:" + *claude;
    ASSERT_TRUE(ada.phone->sendLine(R"({"text":{"_0":{"text":"hello agent","targetID":")" + used + R"("}}})"));
    const Json receipt = testing::nextReply(*ada.phone)["delivered"]["_0"];
    EXPECT_EQ(receipt["ok"], true) << receipt.dump();
    EXPECT_EQ(receipt["targetName"], "claude (work)");
    EXPECT_TRUE(paneShows(tmux, *claude, "hello agent"));
    EXPECT_TRUE(
        testing::eventuallyShows(home, {"targets"}, "* " + used + "  tmux  claude (work)  profile shell  (active)\n"))
        << testing::quibctl(home, {"targets"}).out;
}

}  // namespace
}  // namespace quib
