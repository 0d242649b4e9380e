#include "QuibHost/Apps/MenuCatalog.hpp"

#include <gtest/gtest.h>

#include "MenuFixture.hpp"
#include "Runtime/AssertOn.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/SerialQueue.hpp"
#include "Tests/Support/OnQueue.hpp"

namespace quib::menutests {
namespace {

using namespace std::chrono_literals;
using namespace quib::testing;
using Outcome = MenuProfilePayload::Outcome;

// An editor whose menus hold Save, Copy and Paste and `extra` more items worth no button.
MenuNode editorMenus(std::size_t extra = 0) {
    std::vector<MenuNode> others;
    for (std::size_t i = 0; i < extra; ++i) others.push_back(keyed("Other " + std::to_string(i), "a", 2 | 8));
    return bar({holding("File", {keyed("Save", "s")}), holding("Edit", {keyed("Copy", "c"), keyed("Paste", "v")}),
                holding("Tools", others)});
}

// Asks as the server does, on a queue labelled as its menu queue.
class MenuCatalog : public ::testing::Test {
protected:
    MenuProfilePayload ask(const std::string& bundleID = MenuDesktop::editor, bool refresh = false) {
        return onQueue(menuQueue, [&] { return catalog.profile(bundleID, refresh); });
    }
    // Asks, and says whether the menus were read for the answer.
    bool readsMenus(const std::string& bundleID = MenuDesktop::editor, bool refresh = false) {
        const std::size_t before = menus.desktop->menuReads();
        ask(bundleID, refresh);
        return menus.desktop->menuReads() != before;
    }

    MenuDesktop menus;
    quib::MenuCatalog catalog{menus.config()};
    SerialQueue menuQueue{std::string(MenuCatalogService::queueLabel)};
};

// A kept answer spells the identifier as the request that made it did. The running app is
// looked for under the identifier exactly as asked.
TEST_F(MenuCatalog, SpellingsOfOneAppShareTheAnswerOfTheFirst) {
    const auto first = ask("Org.Example.Editor");
    EXPECT_EQ(first, (MenuProfilePayload{"Org.Example.Editor", Outcome::notRunning, std::nullopt,
                                         "Not running, so it has no menus to read yet."}));
    EXPECT_EQ(ask("org.example.editor"), first);

    menus.run(MenuDesktop::editor, editorMenus());
    EXPECT_EQ(ask("org.example.editor").outcome, Outcome::notRunning);
    EXPECT_EQ(ask(MenuDesktop::editor).outcome, Outcome::read);
    EXPECT_EQ(ask("ORG.EXAMPLE.EDITOR").outcome, Outcome::notRunning);
}

TEST_F(MenuCatalog, AnAnswerIsKeptFiveMinutesForTheSameProcessUnlessRefreshed) {
    menus.run(MenuDesktop::editor, editorMenus());
    const auto first = ask();
    menus.desktop->setMenuBar(menus.desktop->app(MenuDesktop::editor)->processID, editorMenus(1));
    menus.clock->advance(299s);
    EXPECT_FALSE(readsMenus());
    EXPECT_EQ(ask(), first);
    EXPECT_TRUE(readsMenus(MenuDesktop::editor, true));
    EXPECT_NE(ask(), first);
    menus.clock->advance(300s);
    EXPECT_TRUE(readsMenus());
}

TEST_F(MenuCatalog, AnotherProcessOfTheAppIsReadAtOnce) {
    menus.run(MenuDesktop::editor, editorMenus());
    EXPECT_TRUE(readsMenus());
    menus.desktop->quit(MenuDesktop::editor);
    menus.run(MenuDesktop::editor, editorMenus());
    EXPECT_TRUE(readsMenus());
    EXPECT_FALSE(readsMenus());
}

TEST_F(MenuCatalog, AnAppThatIsNotRunningIsReadOnceItRuns) {
    const MenuProfilePayload notRunning{MenuDesktop::editor, Outcome::notRunning, std::nullopt,
                                        "Not running, so it has no menus to read yet."};
    EXPECT_EQ(ask(), notRunning);
    menus.clock->advance(10s);
    EXPECT_EQ(ask(), notRunning);
    menus.run(MenuDesktop::editor, editorMenus());
    EXPECT_EQ(ask().outcome, Outcome::read);
}

TEST_F(MenuCatalog, TooFewUsefulCommandsAreCountedInTheNote) {
    const auto noteFor = [&](std::vector<MenuNode> items) {
        menus.run(MenuDesktop::editor, bar({holding("Edit", std::move(items))}));
        const auto payload = ask(MenuDesktop::editor, true);
        EXPECT_EQ(payload.outcome, Outcome::nothingUseful);
        EXPECT_FALSE(payload.profile);
        return payload.note;
    };
    EXPECT_EQ(noteFor({}), "Editor publishes 0 shortcuts, and too few of them are things worth a button.");
    EXPECT_EQ(noteFor({keyed("Copy", "c")}),
              "Editor publishes 1 shortcut, and too few of them are things worth a button.");
    EXPECT_EQ(noteFor({keyed("Copy", "c"), keyed("Paste", "v")}),
              "Editor publishes 2 shortcuts, and too few of them are things worth a button.");
}

TEST_F(MenuCatalog, AProfileCountsWhatWasReadAndWhatWasKeptAndIsLogged) {
    auto log = std::make_shared<CapturingLogSink>();
    const auto previous = Logger::setSink(log);
    menus.run(MenuDesktop::editor,
              bar({holding("File", {keyed("Save", "s"), keyed("Close Window", "w")}),
                   holding("Edit", {keyed("Undo Typing", "z"), keyed("Copy", "c"), keyed("Paste", "v")}),
                   holding("Tools", std::vector<MenuNode>(35, keyed("Tool", "t", 2 | 8)))}));
    const auto payload = ask();
    Logger::setSink(previous);
    EXPECT_EQ(payload.outcome, Outcome::read);
    EXPECT_EQ(payload.note, "Read from Editor's own menu bar \u2014 40 shortcuts, 5 of them worth a button.");
    ASSERT_TRUE(payload.profile);
    EXPECT_EQ(payload.profile->id, "menu:org.example.editor");
    EXPECT_EQ(payload.profile->actions.size(), 8u);
    EXPECT_EQ(log->lines(), std::vector<std::string>{"read 40 shortcuts from org.example.Editor, kept 8"});
}

TEST_F(MenuCatalog, UnreadableMenusGiveTheScannersNote) {
    menus.run(MenuDesktop::editor, editorMenus());
    menus.desktop->setTrusted(false);
    EXPECT_EQ(ask(), (MenuProfilePayload{MenuDesktop::editor, Outcome::unreadable, std::nullopt,
                                         "Quib needs the accessibility bus (AT-SPI) to read another app's menus"}));
}

// Asking belongs to the menu queue: anywhere else it stops the process where queue affinity is
// checked.
TEST(MenuCatalogDeathTest, StopsWhenAskedOffTheMenuQueue) {
    if (!QUIB_ASSERT_QUEUES) GTEST_SKIP() << "queue affinity is checked only where assertions are";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    MenuDesktop menus;
    quib::MenuCatalog catalog{menus.config()};
    EXPECT_DEATH(catalog.profile(MenuDesktop::editor, false), "profile ran off its queue com.brenmoor.quib.host.menu");
}

}  // namespace
}  // namespace quib::menutests
