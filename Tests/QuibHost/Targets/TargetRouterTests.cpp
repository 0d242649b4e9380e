#include "QuibHost/Targets/TargetRouter.hpp"

#include <gtest/gtest.h>

#include "Platform/Headless/HeadlessDesktop.hpp"
#include "Runtime/AssertOn.hpp"
#include "TargetRouterFixture.hpp"

// The fixture is named after the type under test, so the tests live outside namespace quib.
namespace target_router_tests {

using namespace quib;
using namespace std::chrono_literals;
using quib::testing::fileContents;

const std::string paused = "Injection is paused \u2014 turn it back on in the Quib panel";

using TargetRouter = quib::testing::TargetRouter;

TEST_F(TargetRouter, TrimsCountsAndLogsTextPastedIntoAnApp) {
    const QuibTarget editor = app("Editor", editorID);
    const auto sent = router().deliver("  hello world \n", editor, false);
    EXPECT_EQ(sent, (DeliveryReceipt{true, "T-Editor", "Editor", 11, false, "Sent 2 words to Editor"}));
    EXPECT_EQ(pastedInto(editorID), std::vector<std::string>{"hello world"});
    EXPECT_EQ(returnsIn(editorID), 0u);
    EXPECT_EQ(lastLogLine(), "delivered\tEditor\t11 chars\tsubmitted=no");

    EXPECT_EQ(router().deliver("\u00e9t\u00e9\n", editor, false).message, "Sent 1 word to Editor");
    const auto empty = router().deliver(" \n\t\u3000", editor, true);
    EXPECT_EQ(empty, (DeliveryReceipt{false, "T-Editor", "Editor", 0, false, "Nothing to send"}));
    EXPECT_EQ(lastLogLine(), "refused\tEditor\t0 chars\tsubmitted=no");
    EXPECT_EQ(pastedInto(editorID).size(), 2u);
}

TEST_F(TargetRouter, ReturnFollowsOnlyWhenTheTargetAllowsItAndTheRequestOrTheTargetAsks) {
    QuibTarget editor = app("Editor", editorID);
    editor.submitOnSend = true;
    EXPECT_TRUE(router().deliver("one", editor, std::nullopt).submitted);
    EXPECT_FALSE(router().deliver("two", editor, false).submitted);
    editor.submitOnSend = false;
    EXPECT_FALSE(router().deliver("three", editor, std::nullopt).submitted);
    EXPECT_TRUE(router().deliver("four", editor, true).submitted);
    editor.allowAutoSubmit = false;
    EXPECT_FALSE(router().deliver("five", editor, true).submitted);
    EXPECT_EQ(returnsIn(editorID), 2u);
    EXPECT_EQ(pastedInto(editorID).size(), 5u);
}

TEST_F(TargetRouter, PausedOrUntrustedNothingIsPasted) {
    const QuibTarget editor = app("Editor", editorID);
    injector->setPaused(true);
    EXPECT_EQ(router().deliver("hi", editor, true), (DeliveryReceipt{false, "T-Editor", "Editor", 2, false, paused}));
    EXPECT_EQ(router().deliver({image("a.png")}, "", editor, true).message, paused);
    injector->setPaused(false);
    desktop->setTrusted(false);
    EXPECT_EQ(router().deliver("hi", frontmost(), std::nullopt).message,
              "Quib can't type or click without a desktop display \u2014 start it in your desktop session");
    EXPECT_EQ(router().deliver({image("a.png")}, " look ", editor, true),
              (DeliveryReceipt{
                  false, "T-Editor", "Editor", 6, false,
                  "Quib can't type or click without a desktop display \u2014 start it in your desktop session"}));
    EXPECT_TRUE(pastedInto(editorID).empty());
}

TEST_F(TargetRouter, AFrontmostTargetTakesTheTextWhereverFocusIs) {
    desktop->start(terminalID);
    desktop->focus(terminalID);
    EXPECT_TRUE(router().deliver("ls", frontmost(), true).ok);
    EXPECT_EQ(pastedInto(terminalID), std::vector<std::string>{"ls"});
    EXPECT_EQ(desktop->focusedApp(), terminalID);
    EXPECT_EQ(router().focus(frontmost(), true), (TargetOutcome{true, "Using the focused app"}));
    EXPECT_EQ(desktop->launchRequests(), 0u);
}

// Text sent while a launched app comes up would land in whatever app is in front.
TEST_F(TargetRouter, ALaunchedAppIsPastedIntoOnlyOnceItRunsAndIsActive) {
    desktop->setLaunchDelay(1200ms);
    const auto sent = router().deliver("make test", app("Terminal", terminalID), true);
    EXPECT_EQ(sent, (DeliveryReceipt{true, "T-Terminal", "Terminal", 9, true, "Sent 2 words to Terminal"}));
    EXPECT_EQ(desktop->launchRequests(), 1u);
    EXPECT_EQ(pastedInto(terminalID), std::vector<std::string>{"make test"});
    EXPECT_EQ(returnsIn(terminalID), 1u);
    EXPECT_TRUE(pastedInto(editorID).empty());
    EXPECT_EQ(desktop->focusedApp(), terminalID);
}

TEST_F(TargetRouter, ALaunchThatNeverCompletesRefusesTheDeliveryAfterFiveSeconds) {
    desktop->setLaunchDelay(std::nullopt);
    const QuibTarget terminal = app("Terminal", terminalID);
    const std::string starting = "Terminal is still starting \u2014 send again in a moment";
    const MonoTime began = clock->now();
    EXPECT_EQ(router().deliver("make", terminal, true),
              (DeliveryReceipt{false, "T-Terminal", "Terminal", 4, false, starting}));
    EXPECT_EQ(clock->now() - began, quib::TargetRouter::launchLimit);
    EXPECT_EQ(lastLogLine(), "refused\tTerminal\t4 chars\tsubmitted=no");
    EXPECT_EQ(router().press(KeyChord("c", true), terminal), (TargetOutcome{false, starting}));
    EXPECT_EQ(router().deliver({image("a.png")}, "", terminal, true).message, starting);
    EXPECT_TRUE(pastedInto(editorID).empty());
    EXPECT_TRUE(desktop->app(editorID)->keys.empty());
}

TEST_F(TargetRouter, AnAppThatRefusesToComeForwardGetsNothing) {
    desktop->start(terminalID);
    desktop->setActivationRefused(true);
    EXPECT_EQ(router().deliver("ls", app("Terminal", terminalID), true).message, "Terminal wouldn't come to the front");
    EXPECT_TRUE(pastedInto(editorID).empty());
    EXPECT_TRUE(pastedInto(terminalID).empty());
}

TEST_F(TargetRouter, TextReachesAPaneThroughTheBufferThenEnter) {
    const std::string id = workPane();
    const auto sent = router().deliver("  hello world \n", pane("Work", id), true);
    EXPECT_EQ(sent, (DeliveryReceipt{true, "T-Work", "Work", 11, true, "Sent 2 words to Work"}));
    EXPECT_EQ(runs.subcommands(), (std::vector<std::string>{"list-panes", "send-keys"}));
    EXPECT_EQ(runs.all()[0].arguments, Tmux::pasteTextArguments(id));
    EXPECT_EQ(runs.all()[0].input, "hello world");
    EXPECT_EQ(runs.all()[1].arguments, (std::vector<std::string>{"send-keys", "-t", id, "Enter"}));
    EXPECT_NE(paneShowing(id, "hello world").find("hello world"), std::string::npos);
    EXPECT_EQ(lastLogLine(), "delivered\tWork\t11 chars\tsubmitted=yes");
}

// The same texts through the control client and through tmux runs: the same receipts, the same
// pane, and no tmux run at all while the client answers.
TEST_F(TargetRouter, TheControlClientDeliversWhatTheRunsWouldWithoutStartingTmux) {
    const std::string id = workPane();
    const std::vector<std::string> texts = {"echo \"$HOME\" ~ \\ #{pane_id} ; done", "two\nlines\ttabbed"};
    std::vector<DeliveryReceipt> throughRuns;
    for (const auto& text : texts) throughRuns.push_back(router().deliver(text, pane("Work", id), true));
    const std::string shownByRuns = paneShowing(id, "tabbed");
    ASSERT_TRUE(tmuxServer.run({"clear-history", "-t", id}));
    ASSERT_TRUE(tmuxServer.run({"respawn-pane", "-k", "-t", id, "cat > /dev/null"}));
    made.reset();
    control = std::make_shared<quib::TmuxControl>();
    const std::size_t runsBefore = runs.all().size();
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(router().deliver(texts[i], pane("Work", id), true), throughRuns[i]);
    }
    EXPECT_EQ(paneShowing(id, "tabbed"), shownByRuns);
    EXPECT_EQ(runs.all().size(), runsBefore);
    EXPECT_EQ(control->starts(), 1u);
    EXPECT_EQ(router().deliver("hi", pane("Work", "%999"), false).message,
              "tmux pane %999 is gone \u2014 pick the pane again in Settings");
    EXPECT_EQ(runs.all().size(), runsBefore);
}

// A client that ended, or a text it cannot carry, falls back on one run that delivers it whole.
TEST_F(TargetRouter, TextTheControlClientCannotTakeGoesThroughOneRun) {
    const std::string id = workPane();
    control = std::make_shared<quib::TmuxControl>();
    EXPECT_TRUE(router().deliver("first", pane("Work", id), false).ok);
    ASSERT_TRUE(tmuxServer.run({"detach-client", "-s", "work"}));
    EXPECT_TRUE(router().deliver("second", pane("Work", id), false).ok);
    const std::string withNul("third\0x", 7);
    EXPECT_TRUE(router().deliver(withNul, pane("Work", id), false).ok);
    EXPECT_EQ(runs.all().back().input, withNul);
    EXPECT_NE(paneShowing(id, "third").find("firstsecondthird"), std::string::npos);
}

TEST_F(TargetRouter, PanesThatCannotBeUsedAreRefusedBeforeAnyBufferIsLoaded) {
    const auto refused = [&](const QuibTarget& target) { return router().deliver("hi", target, true).message; };
    EXPECT_EQ(refused(pane("Work", "work:1.0")),
              "Work still points at work:1.0; pick the pane again in Settings so Quib can store its stable id");
    EXPECT_EQ(refused(pane("Work", "")), "Work has no tmux pane");
    EXPECT_TRUE(runs.all().empty());
    EXPECT_EQ(refused(pane("Work", "%999")), "tmux pane %999 is gone \u2014 pick the pane again in Settings");
    EXPECT_EQ(runs.subcommands(), (std::vector<std::string>{"list-panes", "display-message"}));
}

TEST_F(TargetRouter, AFailedEnterLeavesTheTextDeliveredButNotSubmitted) {
    const std::string id = workPane();
    runs.answer([](const std::vector<std::string>& arguments) -> std::optional<Subprocess::Result> {
        if (arguments.front() == "send-keys") return Subprocess::Result{false, "not now"};
        return std::nullopt;
    });
    const auto sent = router().deliver("ls", pane("Work", id), true);
    EXPECT_TRUE(sent.ok);
    EXPECT_FALSE(sent.submitted);

    runs.answer([](const std::vector<std::string>& arguments) -> std::optional<Subprocess::Result> {
        if (arguments.front() == "list-panes") return Subprocess::Result{false, "no buffer quib"};
        return std::nullopt;
    });
    EXPECT_EQ(router().deliver("ls", pane("Work", id), true).message, "tmux: no buffer quib");
}

TEST_F(TargetRouter, ImagesReachAPaneAsTheCaptionAndOneQuotedPathALine) {
    const std::string id = workPane();
    const std::vector<UploadAttachment> images{{"/tmp/a.png", AttachmentFrame::Format::png},
                                               {"/tmp/it's.png", AttachmentFrame::Format::png}};
    const auto sent = router().deliver(images, " look\n", pane("Work", id), false);
    EXPECT_EQ(sent, (DeliveryReceipt{true, "T-Work", "Work", 34, false, "Sent 2 images to Work"}));
    ASSERT_EQ(runs.all().size(), 1u);
    EXPECT_EQ(runs.all()[0].input, "look\n/tmp/a.png\n'/tmp/it'\\''s.png'");
    EXPECT_NE(paneShowing(id, "'/tmp/it'\\''s.png'").find("look\n/tmp/a.png\n'/tmp/it'\\''s.png'"), std::string::npos);
    EXPECT_EQ(lastLogLine(), "delivered\tWork\t34 chars\tsubmitted=no");
    EXPECT_EQ(router().deliver({}, "look", pane("Work", id), false).message, "Nothing to send");
}

TEST_F(TargetRouter, PathsStayBareOnlyWhenMadeOfLettersDigitsAndPathMarks) {
    EXPECT_EQ(quib::TargetRouter::shellQuoted("/home/ada/Quib/inbox/quib-20270115-080000-1.png"),
              "/home/ada/Quib/inbox/quib-20270115-080000-1.png");
    EXPECT_EQ(quib::TargetRouter::shellQuoted("/home/\u00e9l\u00e8ve/\u0661.png"), "/home/\u00e9l\u00e8ve/\u0661.png");
    EXPECT_EQ(quib::TargetRouter::shellQuoted("/tmp/my shots/a.png"), "'/tmp/my shots/a.png'");
    EXPECT_EQ(quib::TargetRouter::shellQuoted("/tmp/$(rm -rf ~).png"), "'/tmp/$(rm -rf ~).png'");
    EXPECT_EQ(quib::TargetRouter::shellQuoted("/tmp/it's.png"), "'/tmp/it'\\''s.png'");
}

TEST_F(TargetRouter, ImagesThenTheCaptionArePastedIntoAnApp) {
    QuibTarget editor = app("Editor", editorID);
    editor.submitOnSend = true;
    const auto sent = router().deliver({image("a.png"), image("b.png")}, " look ", editor, std::nullopt);
    EXPECT_EQ(sent, (DeliveryReceipt{true, "T-Editor", "Editor", 4, true, "Sent 2 images to Editor"}));
    EXPECT_EQ(pastedInto(editorID), (std::vector<std::string>{"public.png", "public.png", "look"}));
    EXPECT_EQ(returnsIn(editorID), 1u);
    EXPECT_EQ(lastLogLine(), "delivered\tEditor\t4 chars\tsubmitted=yes");
}

// A terminal takes no pasted picture: it is given the caption and the inbox paths as text, as a
// pane is, and the receipt counts what it was given.
TEST_F(TargetRouter, ImagesReachATerminalAppAsTheCaptionAndTheirQuotedPaths) {
    desktop->start(terminalID);
    desktop->setFocusIsTerminal(true);
    QuibTarget terminal = app("Terminal", terminalID);
    terminal.submitOnSend = false;
    const auto shot = image("my shot.png");
    const std::string expected = "look\n'" + shot.file.string() + "'";
    const auto sent = router().deliver({shot}, " look ", terminal, std::nullopt);
    EXPECT_EQ(sent, (DeliveryReceipt{true, "T-Terminal", "Terminal", static_cast<std::int64_t>(expected.size()), false,
                                     "Sent 1 image to Terminal"}));
    EXPECT_EQ(pastedInto(terminalID), std::vector<std::string>{expected});
    EXPECT_EQ(returnsIn(terminalID), 0u);
}

// With no image read and no caption, nothing reached the app: no receipt may say it did.
TEST_F(TargetRouter, ImagesNoneOfWhichCouldBeReadAreRefusedUnlessACaptionWent) {
    const QuibTarget editor = app("Editor", editorID);
    const auto lost = router().deliver({image("gone.png", false), image("gone2.png", false)}, " \n", editor, true);
    EXPECT_EQ(lost, (DeliveryReceipt{false, "T-Editor", "Editor", 0, false,
                                     "None of those images could be read \u2014 send them again"}));
    EXPECT_EQ(lastLogLine(), "refused\tEditor\t0 chars\tsubmitted=no");
    EXPECT_TRUE(pastedInto(editorID).empty());
    EXPECT_EQ(returnsIn(editorID), 0u);

    const auto captioned = router().deliver({image("gone.png", false)}, "see", editor, false);
    EXPECT_EQ(captioned.message, "Sent 1 image to Editor");
    EXPECT_EQ(pastedInto(editorID), std::vector<std::string>{"see"});
}

// The injector and the router stop at once, naming what they were made without, rather than
// drive a desktop service that is not there.
TEST(TargetRouterDeathTest, StopsWhenTheDesktopLacksAServiceItDrives) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(quib::EventInjector::create({}), "EventInjector was made without its event poster");
    EXPECT_DEATH(
        {
            auto desktop = HeadlessDesktop::services();
            desktop.pasteboard = nullptr;
            quib::EventInjector::create({.desktop = desktop});
        },
        "EventInjector was made without its pasteboard");
    EXPECT_DEATH(
        {
            auto desktop = HeadlessDesktop::services();
            desktop.roster = nullptr;
            quib::TargetRouter({.injector = quib::EventInjector::create({.desktop = desktop}), .desktop = desktop});
        },
        "TargetRouter was made without its window roster");
}

// Each of the router's calls belongs to the injection queue: made anywhere else, on the test's
// thread or another queue's, it stops the process where queue affinity is checked.
TEST(TargetRouterDeathTest, StopsWhenCalledOffTheInjectionQueue) {
    if (!QUIB_ASSERT_QUEUES) GTEST_SKIP() << "queue affinity is checked only where assertions are";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto desktop = HeadlessDesktop::services();
    quib::TargetRouter router({.injector = quib::EventInjector::create({.desktop = desktop}), .desktop = desktop});
    QuibTarget front;
    front.id = "T-Front";
    front.kind = QuibTarget::Kind::frontmost;
    SerialQueue injection{std::string(TargetRouterService::queueLabel)};
    EXPECT_EQ(quib::testing::onQueue(injection, [&] { return router.deliver(" ", front, false); }).message,
              quib::TargetRouter::nothingToSendText);

    const std::string off = " ran off its queue com.brenmoor.quib.host.inject";
    EXPECT_DEATH(router.deliver("hi", front, false), "deliver" + off);
    EXPECT_DEATH(router.deliver(std::vector<UploadAttachment>{}, "", front, false), "deliver" + off);
    EXPECT_DEATH(router.focus(front, false), "focus" + off);
    EXPECT_DEATH(router.press(KeyChord("a"), std::nullopt), "press" + off);
    SerialQueue other("com.example.other");
    EXPECT_DEATH(quib::testing::onQueue(other, [&] { return router.focus(front, false); }), "focus" + off);
}

}  // namespace target_router_tests
