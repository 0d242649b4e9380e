#include <filesystem>
#include <fstream>
#include <functional>

#include "EventInjectorFixture.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib::testing {
namespace {

using namespace std::chrono_literals;

PasteboardItem textItem(std::string_view text) { return PasteboardItem{}.set(PasteboardType::string, bytesOf(text)); }

// A sleeper that lets a test act in the middle of the injector's waits.
class ActingSleeper final : public Sleeper {
public:
    void sleep(Duration) override {
        if (act) act(++sleeps);
    }
    std::function<void(int)> act;
    int sleeps = 0;
};

TEST_F(EventInjector, TwoPastesInARowRestoreOnceAfterTheSecond) {
    desktop->write({textItem("mine")});
    injector().paste("one");
    wait(60ms);  // the second paste comes 0.1 s after the first
    injector().paste("two");
    EXPECT_EQ(pastes(), (std::vector<std::vector<PasteboardItem>>{{textItem("one")}, {textItem("two")}}));
    EXPECT_EQ(sleeper->sleeps(), (std::vector<Duration>{40ms, 40ms}));

    wait(309ms);  // past the first paste's restore, which does nothing
    EXPECT_EQ(desktop->items(), std::vector<PasteboardItem>{textItem("two")});
    wait(40ms);
    EXPECT_EQ(desktop->items(), std::vector<PasteboardItem>{textItem("two")});
    wait(1ms);  // 0.35 s after the second
    EXPECT_EQ(desktop->items(), std::vector<PasteboardItem>{textItem("mine")});

    // The key presses were Command-V, down then up, with nothing else.
    const auto events = desktop->events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0], InputEvent::key(9, true, EventFlags::command));
    EXPECT_EQ(events[1], InputEvent::key(9, false, EventFlags::command));
}

TEST_F(EventInjector, ACopyMadeMeanwhileIsKept) {
    desktop->write({textItem("mine")});
    injector().paste("sent");
    wait(200ms);
    desktop->write({textItem("copied by the user")});
    wait(1s);
    EXPECT_EQ(desktop->items(), std::vector<PasteboardItem>{textItem("copied by the user")});

    // The next run of pastes saves the pasteboard afresh.
    injector().paste("again");
    wait(1s);
    EXPECT_EQ(desktop->items(), std::vector<PasteboardItem>{textItem("copied by the user")});
}

TEST_F(EventInjector, AnEmptyPasteboardEndsEmpty) {
    injector().paste("sent");
    EXPECT_EQ(desktop->items().size(), 1u);
    wait(1s);
    EXPECT_TRUE(desktop->items().empty());
}

TEST_F(EventInjector, WhilePausedThePasteboardIsUntouched) {
    desktop->write({textItem("mine")});
    const std::int64_t count = desktop->changeCount();
    injector().setPaused(true);
    injector().paste("sent");
    EXPECT_TRUE(desktop->events().empty());
    EXPECT_EQ(desktop->changeCount(), count);
    EXPECT_TRUE(sleeper->sleeps().empty());
    wait(1s);
    EXPECT_EQ(desktop->changeCount(), count);
}

TEST_F(EventInjector, PausedDuringTheWaitTheTextStaysButNoKeyIsPressed) {
    auto acting = std::make_shared<ActingSleeper>();
    acting->act = [&](int) { made->setPaused(true); };
    made = quib::EventInjector::create({.desktop = desktop->services(),
                                        .permissions = desktop,
                                        .clock = clock,
                                        .sleeper = acting,
                                        .pasteboardQueue = restores});
    desktop->write({textItem("mine")});
    injector().paste("sent");
    EXPECT_TRUE(desktop->events().empty());
    EXPECT_EQ(desktop->items(), std::vector<PasteboardItem>{textItem("sent")});
    wait(350ms);
    EXPECT_EQ(desktop->items(), std::vector<PasteboardItem>{textItem("mine")});
}

TEST_F(EventInjector, AnImageIsPastedWithItsFileURLOrNotAtAllWhenUnreadable) {
    ScratchFolder scratch("quib-injector");
    const auto path = scratch.path / "it's a photo.jpg";
    std::ofstream(path, std::ios::binary) << std::string("\xFF\xD8\xFF\x00jpeg", 8);

    EXPECT_TRUE(injector().paste(path, AttachmentFrame::Format::jpeg));
    ASSERT_EQ(pastes().size(), 1u);
    const PasteboardItem item = pastes()[0].at(0);
    EXPECT_EQ(*item.data(PasteboardType::jpeg), bytesOf(std::string("\xFF\xD8\xFF\x00jpeg", 8)));
    EXPECT_EQ(textOf(*item.data(PasteboardType::fileURL)), "file://" + scratch.path.string() + "/it's%20a%20photo.jpg");
    EXPECT_EQ(item.data(PasteboardType::png), nullptr);

    const std::int64_t count = desktop->changeCount();
    desktop->clearEvents();
    EXPECT_FALSE(injector().paste(scratch.path / "missing.png", AttachmentFrame::Format::png));
    EXPECT_FALSE(injector().paste(scratch.path, AttachmentFrame::Format::png));  // a folder
    EXPECT_EQ(desktop->changeCount(), count);
    EXPECT_TRUE(desktop->events().empty());
}

TEST_F(EventInjector, AChordIsPressedRepeatCountTimesAPauseApart) {
    KeyChord chord("a", true, false, true, false, 3);
    const auto outcome = injector().postKey(chord, "Editor");
    EXPECT_EQ(outcome, (TargetOutcome{true, "Control Shift A, twice \u2192 Editor"}));
    const auto events = desktop->events();
    ASSERT_EQ(events.size(), 6u);
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i], InputEvent::key(0, i % 2 == 0, 0x60000)) << i;
    }
    EXPECT_EQ(sleeper->sleeps(), (std::vector<Duration>{40ms, 40ms}));

    desktop->clearEvents();
    chord = KeyChord("c", false, true, false, true);
    EXPECT_TRUE(injector().postKey(chord, "Editor").ok);
    EXPECT_EQ(lastEvent(), InputEvent::key(8, false, 0x180000));

    desktop->clearEvents();
    chord.repeatCount = 0;
    EXPECT_TRUE(injector().postKey(chord, "the front window").ok);
    EXPECT_TRUE(desktop->events().empty());
}

TEST_F(EventInjector, APressThatFallsInAPauseIsSkippedAndTheRestGoOn) {
    auto acting = std::make_shared<ActingSleeper>();
    acting->act = [&](int sleep) { made->setPaused(sleep == 1); };
    made = quib::EventInjector::create({.desktop = desktop->services(),
                                        .permissions = desktop,
                                        .clock = clock,
                                        .sleeper = acting,
                                        .pasteboardQueue = restores});
    EXPECT_TRUE(injector().postKey(KeyChord("escape", false, false, false, false, 3), "Editor").ok);
    EXPECT_EQ(desktop->events().size(), 4u);  // the first and the third press
}

TEST_F(EventInjector, KeysAreRefusedWithoutTrustOrForAKeyNotInTheTable) {
    EXPECT_EQ(injector().postKey(KeyChord("F1"), "Editor"),
              (TargetOutcome{false, "F1 isn't a key Quib knows how to press"}));
    EXPECT_EQ(injector().postKey(KeyChord("plus", false, false, false, true), "Editor").message,
              "Command PLUS isn't a key Quib knows how to press");
    desktop->setTrusted(false);
    EXPECT_EQ(
        injector().postKey(KeyChord("a"), "Editor"),
        (TargetOutcome{false,
                       "Quib can't type or click without a desktop display \u2014 start it in your desktop session"}));
    EXPECT_TRUE(desktop->events().empty());
}

TEST_F(EventInjector, ADisabledAccessibilityInterfaceIsNotTrusted) {
    EXPECT_TRUE(injector().revalidateTrust());
    desktop->setFocusedElementError(AccessibilityProbe::apiDisabled);
    EXPECT_FALSE(injector().revalidateTrust());
    EXPECT_TRUE(injector().apiDisabled());
    EXPECT_FALSE(injector().isTrusted());
    EXPECT_EQ(injector().postKey(KeyChord("a"), "Editor").message,
              "Quib can't type or click without a desktop display \u2014 start it in your desktop session");

    // Any other answer, a failure included, clears it.
    desktop->setFocusedElementError(AccessibilityProbe::cannotComplete);
    EXPECT_TRUE(injector().revalidateTrust());
    EXPECT_FALSE(injector().apiDisabled());
    desktop->setTrusted(false);
    EXPECT_FALSE(injector().revalidateTrust());
}

}  // namespace
}  // namespace quib::testing
