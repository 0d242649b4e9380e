// The host's own clipboard on the shared test display, read and written by other clients.

// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "Tests/Platform/Linux/X11/X11PasteboardFixture.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/X11/PrivateXServer.hpp"
#include "Tests/Support/X11/SelectionRequestor.hpp"
#include "Tests/Support/X11/StubClipboardOwner.hpp"

namespace quib::testing {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

// The targets the clipboard's owner offers, one a line.
std::vector<std::string> offeredTargets(const std::string& display) {
    return linesOf(Xclip::readText(display, "TARGETS").value_or(""));
}

// `size` bytes that start like a PNG file and repeat no short pattern.
Bytes largeImage(std::size_t size) {
    Bytes bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::uint32_t state = 12345;
    while (bytes.size() < size) {
        state = state * 1103515245 + 12345;
        bytes.push_back(static_cast<std::uint8_t>(state >> 16));
    }
    return bytes;
}

// `size` bytes of lines of text.
std::string largeText(std::size_t size) {
    std::string text;
    for (int line = 0; text.size() < size; ++line) text += "line " + std::to_string(line) + " of the clipboard\n";
    text.resize(size);
    return text;
}

PasteboardItem imageItem(const Bytes& png, std::string_view url) {
    PasteboardItem item;
    item.set(PasteboardType::png, png);
    item.set(PasteboardType::fileURL, bytesOf(url));
    return item;
}

TEST_F(X11Pasteboard, PastedTextIsReadAsEveryTextType) {
    const std::string text = "caf\xC3\xA9 \xE2\x9C\x93";
    pasteboard->write({textItem(text)});
    EXPECT_EQ(Xclip::readText(display, "UTF8_STRING"), text);
    EXPECT_EQ(Xclip::readText(display, "text/plain;charset=utf-8"), text);
    EXPECT_EQ(Xclip::readText(display, "TEXT"), text);
    EXPECT_EQ(Xclip::readText(display, "STRING"), "caf\xE9 ?");
    EXPECT_EQ(offeredTargets(display), (std::vector<std::string>{"TARGETS", "TIMESTAMP", "MULTIPLE", "UTF8_STRING",
                                                                 "text/plain;charset=utf-8", "TEXT", "STRING"}));
    EXPECT_FALSE(Xclip::read(display, "image/png"));
    // What we own we know without asking anyone.
    EXPECT_EQ(pasteboard->items(), std::vector<PasteboardItem>{textItem(text)});
}

TEST_F(X11Pasteboard, AnImageIsServedInPiecesWithItsFileURL) {
    const Bytes png = largeImage(5 * 1024 * 1024);
    pasteboard->write({imageItem(png, "file:///tmp/quib%20shot.png")});
    const auto targets = offeredTargets(display);
    EXPECT_EQ(targets, (std::vector<std::string>{"TARGETS", "TIMESTAMP", "MULTIPLE", "image/png", "text/uri-list"}));
    const auto read = Xclip::read(display, "image/png");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->size(), png.size());
    EXPECT_TRUE(*read == png);
    EXPECT_EQ(Xclip::readText(display, "text/uri-list"), "file:///tmp/quib%20shot.png\r\n");
}

// The stalled requestor would be dropped after 5 s; xclip is answered long before.
TEST_F(X11Pasteboard, ARequestorThatStopsTakingPiecesHoldsUpNoOtherRequest) {
    pasteboard->write({imageItem(largeImage(1024 * 1024), "file:///tmp/a.png"), textItem("still served")});
    auto stalled = SelectionRequestor::open(display);
    ASSERT_TRUE(stalled);
    ASSERT_EQ(stalled->convert("image/png", "STALLED"), stalled->atom("STALLED"));
    const auto announced = stalled->property("STALLED");
    ASSERT_TRUE(announced);
    EXPECT_EQ(announced->type, stalled->atom("INCR"));

    const auto started = Steady::now();
    EXPECT_EQ(Xclip::readText(display, "UTF8_STRING"), "still served");
    EXPECT_LT(Steady::now() - started, 5s);
}

TEST_F(X11Pasteboard, AnswersSeveralTargetsAtOnce) {
    pasteboard->write({textItem("several")});
    auto requestor = SelectionRequestor::open(display);
    ASSERT_TRUE(requestor);
    requestor->setPairs("PAIRS", {{"UTF8_STRING", "ONE"}, {"image/png", "TWO"}, {"STRING", "THREE"}});
    ASSERT_EQ(requestor->convert("MULTIPLE", "PAIRS"), requestor->atom("PAIRS"));
    EXPECT_EQ(textOf(requestor->property("ONE").value_or(X11Properties::Value{}).bytes), "several");
    EXPECT_EQ(textOf(requestor->property("THREE").value_or(X11Properties::Value{}).bytes), "several");
    EXPECT_FALSE(requestor->property("TWO"));
    const auto pairs = requestor->property("PAIRS");
    ASSERT_TRUE(pairs);
    ASSERT_EQ(pairs->bytes.size(), 6u * 4);
    std::uint32_t second = 1;
    std::memcpy(&second, pairs->bytes.data() + 3 * 4, 4);
    EXPECT_EQ(second, None);  // the pair it could not answer
}

TEST_F(X11Pasteboard, ReadsAnotherOwnersLargeTextWholeAndServesItBack) {
    const std::string text = largeText(5 * 1024 * 1024);
    auto xclip = Xclip::hold(display, bytesOf(text));
    ASSERT_TRUE(xclip);
    const auto items = pasteboard->items();
    ASSERT_EQ(items.size(), 1u);
    const Bytes* read = items[0].data("UTF8_STRING");
    ASSERT_TRUE(read);
    EXPECT_TRUE(*read == bytesOf(text));

    xclip.reset();
    pasteboard->write(items);
    const auto served = Xclip::read(display, "UTF8_STRING");
    ASSERT_TRUE(served);
    EXPECT_TRUE(*served == bytesOf(text));
}

// An owner that writes each piece the moment the one before is taken: no piece may be lost to a
// deletion meant for the piece before it, however the two race.
TEST_F(X11Pasteboard, ReadsEveryPieceOfAnOwnerThatAnswersAtOnce) {
    const std::string text = largeText(64 * 1024);
    auto owner = StubClipboardOwner::start(display, {"UTF8_STRING"}, {{"UTF8_STRING", bytesOf(text)}}, 4096);
    ASSERT_TRUE(owner);
    for (int reading = 0; reading < 25; ++reading) {
        const auto items = pasteboard->items();
        ASSERT_EQ(items.size(), 1u) << "reading " << reading;
        const Bytes* read = items[0].data("UTF8_STRING");
        ASSERT_TRUE(read) << "reading " << reading;
        ASSERT_EQ(read->size(), text.size()) << "reading " << reading;
        ASSERT_TRUE(*read == bytesOf(text)) << "reading " << reading;
    }
}

// Each reading of a large text in many pieces must end when its last piece came, never by
// waiting out a piece's time limit: a few such waits in one reading would run out the time of
// the whole reading, which then comes back empty.
TEST_F(X11Pasteboard, ReadsALargeTextInManyPiecesTimeAfterTime) {
    const Bytes text = bytesOf(largeText(256 * 1024));
    auto owner = StubClipboardOwner::start(display, {"UTF8_STRING", "text/plain;charset=utf-8"},
                                           {{"UTF8_STRING", text}, {"text/plain;charset=utf-8", text}}, 1024);
    ASSERT_TRUE(owner);
    for (int reading = 0; reading < 40; ++reading) {
        const auto items = pasteboard->items();
        ASSERT_EQ(items.size(), 1u) << "reading " << reading;
        ASSERT_EQ(items[0].representations.size(), 2u) << "reading " << reading;
        for (const auto& [type, bytes] : items[0].representations) {
            ASSERT_TRUE(bytes == text) << type << ", reading " << reading;
        }
    }
}

// An owner offering more than one reading keeps is not read at all, whether the excess comes in
// one answer, in pieces, or only as the sum of several answers; up to the limit all is kept.
TEST_F(X11Pasteboard, AnOwnerOfferingMoreThanAReadingKeepsReadsAsEmpty) {
    constexpr std::size_t limit = 64 * 1024;
    pasteboard = quib::X11Pasteboard::open(display, limit);
    ASSERT_TRUE(pasteboard);
    const Bytes half = bytesOf(largeText(limit / 2));
    const Bytes over = bytesOf(largeText(limit + 1));
    const std::vector<std::string> pair{"UTF8_STRING", "text/html"};

    auto app = StubClipboardOwner::start(display, pair, {{"UTF8_STRING", half}, {"text/html", half}});
    ASSERT_TRUE(app);
    const auto items = pasteboard->items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].representations.size(), 2u);

    const Bytes overHalf = bytesOf(largeText(limit / 2 + 1));
    app = StubClipboardOwner::start(display, pair, {{"UTF8_STRING", half}, {"text/html", overHalf}});
    ASSERT_TRUE(app);
    EXPECT_TRUE(pasteboard->items().empty());
    app = StubClipboardOwner::start(display, {"UTF8_STRING"}, {{"UTF8_STRING", over}});
    ASSERT_TRUE(app);
    EXPECT_TRUE(pasteboard->items().empty());

    // In pieces, announced as less than it is: cut off once the pieces pass the limit. A paste
    // over it leaves the clipboard empty afterwards, never holding part of the text.
    app = StubClipboardOwner::start(display, {"UTF8_STRING"}, {{"UTF8_STRING", over}}, 4096, false);
    ASSERT_TRUE(app);
    EXPECT_TRUE(pasteboard->items().empty());
    injector().paste("sent");
    EXPECT_EQ(Xclip::readText(display), "sent");
    wait(350ms);
    EXPECT_EQ(owner(), None);
}

TEST_F(X11Pasteboard, ClearingLeavesNoOwnerAndAnEmptyClipboardReadsEmpty) {
    pasteboard->write({textItem("gone soon")});
    pasteboard->clear();
    EXPECT_EQ(owner(), None);
    EXPECT_TRUE(pasteboard->items().empty());
    EXPECT_FALSE(Xclip::read(display, "UTF8_STRING"));
}

// The server reports each change of owner, ours too, a moment after it: those reports of ours
// must not move the count the write already moved.
TEST_F(X11Pasteboard, CountsEachChangeOnce) {
    const std::int64_t start = pasteboard->changeCount();
    pasteboard->write({textItem("ours")});
    const std::int64_t written = pasteboard->changeCount();
    EXPECT_EQ(written, start + 1);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(pasteboard->changeCount(), written);

    auto xclip = Xclip::hold(display, bytesOf("theirs"));
    ASSERT_TRUE(xclip);
    EXPECT_EQ(pasteboard->changeCount(), written + 1);
    pasteboard->write({textItem("ours again")});
    pasteboard->clear();
    EXPECT_EQ(pasteboard->changeCount(), written + 3);
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(pasteboard->changeCount(), written + 3);
}

TEST_F(X11Pasteboard, AnOwnerThatNeverAnswersATargetCostsThatTargetOnly) {
    auto owner = StubClipboardOwner::start(display, {"UTF8_STRING", "application/x-hung", "text/html"},
                                           {{"UTF8_STRING", bytesOf("kept")}, {"text/html", bytesOf("<b>kept</b>")}});
    ASSERT_TRUE(owner);
    const auto started = Steady::now();
    const auto items = pasteboard->items();
    const auto took = Steady::now() - started;
    EXPECT_GE(took, 450ms);
    EXPECT_LT(took, 1500ms);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].representations, (std::vector<std::pair<std::string, Bytes>>{
                                            {"UTF8_STRING", bytesOf("kept")}, {"text/html", bytesOf("<b>kept</b>")}}));
}

TEST_F(X11Pasteboard, AnOwnerThatAnswersNothingEndsTheReadingAfterTwoSeconds) {
    std::vector<std::string> targets;
    for (int i = 0; i < 15; ++i) targets.push_back("application/x-hung-" + std::to_string(i));
    auto owner = StubClipboardOwner::start(display, targets, {});
    ASSERT_TRUE(owner);
    const auto started = Steady::now();
    EXPECT_TRUE(pasteboard->items().empty());
    const auto took = Steady::now() - started;
    EXPECT_GE(took, 1900ms);
    EXPECT_LT(took, 3s);
}

// On a server of the test's own.
TEST_F(X11Pasteboard, GoesQuietWhenItsServerGoes) {
    auto server = PrivateXServer::start();
    ASSERT_TRUE(server);
    pasteboard = quib::X11Pasteboard::open(server->name());
    ASSERT_TRUE(pasteboard);
    pasteboard->write({textItem("lost")});
    const std::int64_t count = pasteboard->changeCount();

    server->kill();
    const auto started = Steady::now();
    EXPECT_TRUE(pasteboard->items().empty());
    pasteboard->write({textItem("nowhere")});
    EXPECT_EQ(pasteboard->changeCount(), count);
    EXPECT_TRUE(pasteboard->isGone());
    EXPECT_LT(Steady::now() - started, 1s);
}

}  // namespace
}  // namespace quib::testing
