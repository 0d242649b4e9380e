#include "QuibHost/Targets/Tmux.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "Runtime/Logger.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "TmuxServer.hpp"

// The fixture is named after the type under test, so the tests live outside namespace quib.
namespace tmux_tests {

using namespace quib;
namespace fs = std::filesystem;
using Pane = quib::Tmux::Pane;

// Each test has a tmux server of its own (started by the test when it needs one), set up
// before any thread.
class Tmux : public ::testing::Test {
protected:
    quib::testing::TmuxServer server;
    quib::testing::ScratchFolder folder{"tmux-work"};
    quib::Tmux tmux;
};

TEST_F(Tmux, ParsesPaneLinesKeepingABarInsideThePath) {
    EXPECT_EQ(quib::Tmux::parsePane("%3|work:1.0|zsh|/Users/me/src"), (Pane{"%3", "work:1.0", "zsh", "/Users/me/src"}));
    EXPECT_EQ(quib::Tmux::parsePane("%3|work:1.0|vim|/tmp/a|b"), (Pane{"%3", "work:1.0", "vim", "/tmp/a|b"}));
    EXPECT_EQ(quib::Tmux::parsePane("%3|work:1.0|zsh|"), (Pane{"%3", "work:1.0", "zsh", ""}));
    EXPECT_EQ(quib::Tmux::parsePane("%12|a:b:2.3|claude|/x"), (Pane{"%12", "a:b:2.3", "claude", "/x"}));
    for (const char* bad : {"%3|work:1.0||/tmp", "%|work:1.0|zsh|/tmp", "3|work:1.0|zsh|/tmp", "%3x|work:1.0|zsh|/tmp",
                            "%3|work:1|zsh|/tmp", "%3|work:1.0|zsh", ""})
        EXPECT_EQ(quib::Tmux::parsePane(bad), std::nullopt) << bad;
}

TEST_F(Tmux, ListingSkipsAndLogsTheLinesThatDoNotParse) {
    auto log = std::make_shared<CapturingLogSink>();
    auto previous = Logger::setSink(log);
    const auto panes = quib::Tmux::parsePanes("%1|work:0.0|zsh|/a\n\n%|work:0.1|zsh|/b\n%2|work:0.2|vim|/c\n");
    Logger::setSink(previous);
    EXPECT_EQ(panes, (std::vector<Pane>{{"%1", "work:0.0", "zsh", "/a"}, {"%2", "work:0.2", "vim", "/c"}}));
    ASSERT_EQ(log->records().size(), 1u);
    EXPECT_EQ(log->records()[0].level, LogLevel::error);
    EXPECT_EQ(log->records()[0].text, "skipping unparseable tmux pane line: %|work:0.1|zsh|/b");
}

TEST_F(Tmux, AddressesNeedASessionAndTwoNumbersOfAnyScript) {
    for (const char* good : {"work:1.0", "a:b:2.3", "w:\u0661.\u0662", "w:\u2167.0"}) EXPECT_TRUE(quib::Tmux::isPaneSpec(good)) << good;
    for (const char* bad : {"work:1", "work:1.2.3", ":1.0", "work:.0", "work:x.0", "work:1.", "work", "%3"})
        EXPECT_FALSE(quib::Tmux::isPaneSpec(bad)) << bad;
    EXPECT_TRUE(quib::Tmux::isPaneID("%\u0661\u0662"));
    EXPECT_FALSE(quib::Tmux::isPaneID("%-1"));
}

TEST_F(Tmux, TheFirstExecutableFileInOrderIsTheProgram) {
    quib::testing::ScratchFolder dir("tmux-paths");
    const auto file = [&](const std::string& name, fs::perms permissions) {
        const fs::path path = dir.path / name;
        std::ofstream(path) << "#!/bin/sh\n";
        fs::permissions(path, permissions);
        return path;
    };
    const fs::path plain = file("plain", fs::perms::owner_read | fs::perms::owner_write);
    const fs::path folder = dir.path / "folder";
    fs::create_directories(folder);
    const fs::path first = file("first", fs::perms::owner_all);
    const fs::path second = file("second", fs::perms::owner_all);

    EXPECT_EQ(quib::Tmux({"/nonexistent/tmux", plain, folder, first, second}).executableURL(), first);
    EXPECT_EQ(quib::Tmux({second, first}).executableURL(), second);
    EXPECT_FALSE(quib::Tmux({"/nonexistent/tmux", plain, folder}).isAvailable());
}

TEST_F(Tmux, WithoutTheProgramEveryQueryAnswersNothing) {
    const quib::Tmux missing({"/nonexistent/tmux"});
    EXPECT_TRUE(missing.listPanes().empty());
    EXPECT_EQ(missing.resolve("%1"), std::nullopt);
    EXPECT_EQ(missing.resolve("work:0.0"), std::nullopt);
    EXPECT_FALSE(missing.paneExists("%1"));
    EXPECT_EQ(missing.currentPath("%1"), std::nullopt);
}

TEST_F(Tmux, WithoutAServerThereAreNoPanes) {
    EXPECT_TRUE(tmux.listPanes().empty());
    EXPECT_EQ(tmux.resolve("work:0.0"), std::nullopt);
}

TEST_F(Tmux, ListsEveryPaneOfEverySession) {
    ASSERT_TRUE(server.startSession("work", folder.path, 2));
    ASSERT_TRUE(server.startSession("play", folder.path));
    const auto panes = tmux.listPanes();
    ASSERT_EQ(panes.size(), 3u);
    std::vector<std::string> specs;
    for (const auto& pane : panes) {
        specs.push_back(pane.spec);
        EXPECT_EQ(pane.id, server.idOf(pane.spec));
        EXPECT_FALSE(pane.command.empty());
        EXPECT_EQ(fs::canonical(pane.path), fs::canonical(folder.path));
    }
    std::ranges::sort(specs);
    EXPECT_EQ(specs, (std::vector<std::string>{"play:0.0", "work:0.0", "work:0.1"}));
}

TEST_F(Tmux, AnIdentifierResolvesOnlyWhileItsPaneLives) {
    ASSERT_TRUE(server.startSession("work", folder.path, 2));
    const std::string id = server.idOf("work:0.1");
    ASSERT_TRUE(id.starts_with('%'));
    EXPECT_EQ(tmux.resolve(id), id);
    EXPECT_TRUE(tmux.paneExists(id));

    ASSERT_TRUE(server.run({"kill-pane", "-t", id}));
    EXPECT_EQ(tmux.resolve(id), std::nullopt);
    EXPECT_FALSE(tmux.paneExists(id));
    EXPECT_FALSE(tmux.paneExists("%999"));
}

// tmux itself answers an address of a missing window or pane with the session's current pane.
TEST_F(Tmux, AnAddressResolvesToItsPaneAndAMissingOneToNothing) {
    ASSERT_TRUE(server.startSession("work", folder.path, 2));
    EXPECT_EQ(tmux.resolve("work:0.1"), server.idOf("work:0.1"));
    EXPECT_EQ(tmux.resolve("work:0.0"), server.idOf("work:0.0"));
    EXPECT_EQ(tmux.resolve("work:0.5"), std::nullopt);
    EXPECT_EQ(tmux.resolve("work:9.9"), std::nullopt);
    EXPECT_EQ(tmux.resolve("nosuch:0.0"), std::nullopt);
    // tmux picks a pane for its own syntax, which must never pass for a pane of the user's.
    const std::string first = server.idOf("work:0.0");
    for (const std::string& odd : std::vector<std::string>{"-L", "-", "--", "-F", "-S/x", "work", "work:0", first + ";", first + " ", "{last}", "-L:0.0"})
        EXPECT_EQ(tmux.resolve(odd), std::nullopt) << odd;
}

TEST_F(Tmux, ReadsAPanesWorkingFolder) {
    ASSERT_TRUE(server.startSession("work", folder.path));
    const auto path = tmux.currentPath(server.idOf("work:0.0"));
    ASSERT_TRUE(path);
    EXPECT_EQ(fs::canonical(*path), fs::canonical(folder.path));
    EXPECT_EQ(tmux.currentPath("%999"), std::nullopt);
}

}  // namespace tmux_tests
