#include "Platform/Tmux/Tmux.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "Runtime/Logger.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/TmuxServer.hpp"

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

// One record as tmux prints it for the listing's format.
std::string record(const std::string& id, const std::string& session, const std::string& place,
                   const std::string& command, const std::string& path) {
    return id + "|" + std::to_string(session.size()) + "|" + std::to_string(command.size()) + "|" +
           std::to_string(path.size()) + "|" + session + ":" + place + "|" + command + "|" + path + "|";
}

// A line break in a folder's name once ended its pane's line early, and the rest was read as
// another pane that first-run seeding saved as a target: fields are read by their lengths.
TEST_F(Tmux, ParsesPaneRecordsByTheirLengthsWhateverTheFieldsHold) {
    const std::string forged = "/tmp/a\n%9|1|4|2|x:0.0|bash|/x|\n%8|evil:0.0|zsh|/";
    const auto panes = quib::Tmux::parsePanes(
        record("%3", "work", "1.0", "zsh", "/Users/me/src") + "\n" + record("%4", "a:b", "2.3", "vim", "/tmp/a|b") +
        "\n" + record("%5", "w", "0.1", "zsh", "") + "\n" + record("%6", "w", "0.2", "claude", forged));
    EXPECT_EQ(panes, (std::vector<Pane>{{"%3", "work:1.0", "zsh", "/Users/me/src"},
                                        {"%4", "a:b:2.3", "vim", "/tmp/a|b"},
                                        {"%5", "w:0.1", "zsh", ""},
                                        {"%6", "w:0.2", "claude", forged}}));
}

TEST_F(Tmux, ListingSkipsAndLogsTheRecordsThatDoNotParse) {
    auto log = std::make_shared<CapturingLogSink>();
    auto previous = Logger::setSink(log);
    const std::vector<std::string> bad{record("%", "w", "0.1", "zsh", "/b"),
                                       record("3", "w", "0.1", "zsh", "/b"),
                                       record("%3", "w", "1", "zsh", "/b"),
                                       record("%3", "w", "0.1", "", "/b"),
                                       "%3|1|3|9|w:0.1|zsh|/b|",
                                       "%3|1|3|2|w:0.1|zsh|/b",
                                       "%3|x|3|2|w:0.1|zsh|/b|"};
    std::string listing = record("%1", "work", "0.0", "zsh", "/a") + "\n\n";
    for (const auto& line : bad) listing += line + "\n";
    listing += record("%2", "work", "0.2", "vim", "/c");
    const auto panes = quib::Tmux::parsePanes(listing);
    Logger::setSink(previous);
    EXPECT_EQ(panes, (std::vector<Pane>{{"%1", "work:0.0", "zsh", "/a"}, {"%2", "work:0.2", "vim", "/c"}}));
    ASSERT_EQ(log->records().size(), bad.size());
    EXPECT_EQ(log->records()[0].level, LogLevel::error);
    EXPECT_EQ(log->records()[0].text, "skipping unparseable tmux pane line: " + bad[0]);
}

TEST_F(Tmux, AddressesNeedASessionAndTwoNumbersOfAnyScript) {
    for (const char* good : {"work:1.0", "a:b:2.3", "w:\u0661.\u0662", "w:\u2167.0"})
        EXPECT_TRUE(quib::Tmux::isPaneSpec(good)) << good;
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

TEST_F(Tmux, AFolderWhoseNameHoldsARecordIsOneFolderOfOnePane) {
    const fs::path odd = folder.path / "a\n%99|1|4|2|x:0.0|bash|/x|\n%98|1|3|1|y:0.0|zsh|/|";
    fs::create_directories(odd);
    ASSERT_TRUE(server.startSession("work", odd));
    const auto panes = tmux.listPanes();
    ASSERT_EQ(panes.size(), 1u);
    EXPECT_EQ(panes[0].spec, "work:0.0");
    EXPECT_EQ(fs::canonical(panes[0].path), fs::canonical(odd));
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
    for (const std::string& odd : std::vector<std::string>{"-L", "-", "--", "-F", "-S/x", "work", "work:0", first + ";",
                                                           first + " ", "{last}", "-L:0.0"})
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
