#include "QuibHost/Apps/MenuScanner.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "MenuFixture.hpp"

namespace quib::menutests {
namespace {

using namespace std::chrono_literals;
using namespace quib::testing;
using Scanner = quib::MenuScanner;

class MenuScanner : public ::testing::Test {
protected:
    Scanner::Outcome scan(const std::string& bundleID = MenuDesktop::editor) {
        return Scanner(menus.config()).scan(bundleID);
    }
    // The commands of a scan of the editor running with this bar.
    std::vector<MenuCommand> commandsOf(MenuNode menuBar) {
        menus.run(MenuDesktop::editor, std::move(menuBar));
        const auto outcome = scan();
        const auto* read = std::get_if<Scanner::Read>(&outcome);
        if (!read) {
            ADD_FAILURE() << "the menus were not read";
            return {};
        }
        EXPECT_EQ(read->appName, "Editor");
        return read->commands;
    }

    MenuDesktop menus;
};

KeyChord chord(const std::string& key, bool control, bool option, bool shift, bool command) {
    return KeyChord(key, control, option, shift, command);
}
KeyChord commandKey(const std::string& key) { return chord(key, false, false, false, true); }

std::vector<std::string> keys(const std::vector<MenuCommand>& commands) {
    std::vector<std::string> out;
    for (const auto& command : commands) out.push_back(command.chord.key);
    return out;
}

TEST_F(MenuScanner, TheFirstTopLevelItemIsDroppedOnlyWhenTheBarStartsWithTheSystemMenu) {
    const MenuNode systemOnly = bar({holding("Apple", {keyed("Quit", "q")})});
    menus.desktop->setSystemMenuFirst(true);
    EXPECT_EQ(commandsOf(systemOnly), std::vector<MenuCommand>{});
    menus.desktop->setSystemMenuFirst(false);
    EXPECT_EQ(commandsOf(systemOnly), (std::vector<MenuCommand>{{"Apple", "Quit", commandKey("q")}}));
}

// Bits: 1 Shift, 2 Option, 4 Control, 8 no Command; no modifiers at all is Command alone.
TEST_F(MenuScanner, ModifierBitsMakeTheChord) {
    const auto commands =
        commandsOf(bar({holding("Edit", {keyed("Save", "S"), keyed("Plain", "a", 8), keyed("All", "z", 3),
                                         keyed("Ctrl", "x", 12), keyed("High", "h", 16 | 1)})}));
    EXPECT_EQ(commands, (std::vector<MenuCommand>{{"Edit", "Save", commandKey("s")},
                                                  {"Edit", "Plain", chord("a", false, false, false, false)},
                                                  {"Edit", "All", chord("z", false, true, true, true)},
                                                  {"Edit", "Ctrl", chord("x", true, false, false, false)},
                                                  {"Edit", "High", chord("h", false, false, true, true)}}));
}

TEST_F(MenuScanner, ControlCharactersNameTheirKeys) {
    const auto commands = commandsOf(bar(
        {holding("Keys", {keyed("Return", "\r"), keyed("Enter", "\x03"), keyed("Delete", "\x7f"), keyed("Back", "\b"),
                          keyed("Escape", "\x1b"), keyed("Space", " "), keyed("Tab", "\t")})}));
    EXPECT_EQ(keys(commands),
              (std::vector<std::string>{"enter", "enter", "delete", "delete", "escape", "space", "tab"}));
}

TEST_F(MenuScanner, ACharacterThatNamesNoKeyFallsToTheVirtualKey) {
    const auto commands = commandsOf(bar(
        {holding("Keys", {keyed("Zoom In", "+", std::nullopt, 24), keyed("Plus", "+"),
                          keyed("Two", "ab", std::nullopt, 0), keyed("Help", std::nullopt, std::nullopt, 122),
                          keyed("Empty", "", std::nullopt, 36), keyed("Unnamed code", std::nullopt, std::nullopt, 52),
                          keyed("Too big", std::nullopt, std::nullopt, 65536 + 122),
                          keyed("Negative", std::nullopt, std::nullopt, -1), keyed("Accent", "\u00C9"),
                          keyed("Comma", ",", 0)})}));
    EXPECT_EQ(keys(commands), (std::vector<std::string>{"=", "a", "f1", "enter", ","}));
}

// Titles as published; items without a title or a chord still have their submenus read, under
// the top-level title, three levels down and no further.
TEST_F(MenuScanner, WalksThreeLevelsUnderTheTopLevelTitle) {
    const MenuNode fourth = holding("Four", {keyed("Level 4", "4")});
    const MenuNode third = holding("More", {keyed("Level 3", "3"), fourth});
    const auto commands = commandsOf(bar({
        holding("File", {keyed(" Save As\u2026  ", "s", 1), holding("", {keyed("Print", "p")}),
                         holding("Export", {keyed("PDF", "e"), third})}),
        holding(std::nullopt, {keyed("Orphan", "o")}),
        holding("", {keyed("Blank", "b")}),
        holding("Edit", {keyed("Copy", "c")}),
    }));
    EXPECT_EQ(commands, (std::vector<MenuCommand>{{"File", " Save As\u2026  ", chord("s", false, false, true, true)},
                                                  {"File", "Print", commandKey("p")},
                                                  {"File", "PDF", commandKey("e")},
                                                  {"File", "Level 3", commandKey("3")},
                                                  {"Edit", "Copy", commandKey("c")}}));
}

TEST_F(MenuScanner, AFlatMenuYieldsItsFirst1199Items) {
    std::vector<MenuNode> items(1500, keyed("Item", "a"));
    const auto commands = commandsOf(bar({holding("Big", items), holding("Edit", {keyed("Copy", "c")})}));
    EXPECT_EQ(commands.size(), 1199u);
    EXPECT_EQ(commands.back().menu, "Big");
}

// Each read takes 1 s: the walk ends once 6 s have passed after the bar was found, with what it
// had, after at most the reads of the item it was on.
TEST_F(MenuScanner, AScanStopsAtItsDeadlineWithWhatItGathered) {
    std::vector<MenuNode> items(20, keyed("Item", "a"));
    menus.desktop->setMenuReadCost(1s);
    const MonoTime start = menus.clock->now();
    const auto commands = commandsOf(bar({holding("Big", items), holding("Edit", {keyed("Copy", "c")})}));
    EXPECT_FALSE(commands.empty());
    EXPECT_LT(commands.size(), 20u);
    constexpr Duration barRead = 1s, itemReads = 5s;
    EXPECT_LE(menus.clock->now() - start, barRead + Scanner::scanTime + itemReads);
}

// A read that would take longer than 1.5 s gives up then, with nothing.
TEST_F(MenuScanner, AReadThatTimesOutFindsNothing) {
    menus.run(MenuDesktop::editor, bar({holding("Edit", {keyed("Copy", "c")})}));
    menus.desktop->setMenuReadCost(2s);
    const MonoTime start = menus.clock->now();
    EXPECT_EQ(scan(), Scanner::Outcome(Scanner::Unreadable{"Editor publishes no menu bar Quib can read"}));
    EXPECT_EQ(menus.clock->now() - start, Scanner::messagingTimeout);
}

TEST_F(MenuScanner, AnAppWithoutAMenuBarIsNamedInTheUsersLanguage) {
    const char* const previous = std::getenv("LC_ALL");
    const std::optional<std::string> saved = previous ? std::optional<std::string>(previous) : std::nullopt;
    ::setenv("LC_ALL", "de_DE.UTF-8", 1);
    menus.install("org.example.Viewer", "Viewer\nName[de]=Betrachter");
    menus.run("org.example.Viewer", std::nullopt);
    EXPECT_EQ(scan("org.example.Viewer"),
              Scanner::Outcome(Scanner::Unreadable{"Betrachter publishes no menu bar Quib can read"}));
    // Shells that later tests start in tmux would otherwise warn about a locale this host lacks.
    if (saved) ::setenv("LC_ALL", saved->c_str(), 1);
    else ::unsetenv("LC_ALL");
}

// Running means: an instance with exactly this identifier, whose windows name a process, and a
// desktop entry that names the app.
TEST_F(MenuScanner, AnAppIsReadOnlyWhenItRunsAsAProcessWithAName) {
    const Scanner::Outcome notRunning = Scanner::NotRunning{};
    EXPECT_EQ(scan(), notRunning);
    menus.run(MenuDesktop::editor, bar({holding("Edit", {keyed("Copy", "c")})}));
    EXPECT_EQ(scan("org.example.editor"), notRunning);
    menus.desktop->start("org.example.Nameless");
    EXPECT_EQ(scan("org.example.Nameless"), notRunning);
    menus.install("org.example.Pidless", "Pidless");
    menus.desktop->start("org.example.Pidless", false);
    EXPECT_EQ(scan("org.example.Pidless"), notRunning);
    EXPECT_TRUE(std::holds_alternative<Scanner::Read>(scan()));

    menus.desktop->setTrusted(false);
    const Scanner::Outcome untrusted =
        Scanner::Unreadable{"Quib needs the accessibility bus (AT-SPI) to read another app's menus"};
    EXPECT_EQ(scan(), untrusted);
    EXPECT_EQ(scan("org.example.Absent"), untrusted);
}

}  // namespace
}  // namespace quib::menutests
