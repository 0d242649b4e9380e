#include <gtest/gtest.h>

#include <tuple>

#include "QuibHost/Interface/MenuStyle.hpp"
#include "Tests/Interface/PanelPictures.hpp"

namespace quib {
namespace {

using namespace quib::testing;

struct Screen {
    std::string name;
    MenuViewState state;
    Tone dot;
};

// The panel in named states: each picture matches its reference, is 300 pixels wide, and the
// header's dot is drawn in the colour of the state.
TEST(MenuViewScreens, EachStateLooksAsItsReference) {
    MenuViewState listening;
    listening.isListening = true;
    listening.hostDisplayName = "Studio";
    listening.accessibilityGranted = listening.screenRecordingGranted = true;
    MenuViewState silent = listening;
    silent.isListening = false;
    const std::vector<Screen> screens{
        {"panel-listening", listening, Tone::green},
        {"panel-not-listening", silent, Tone::red},
    };
    for (const auto& screen : screens) {
        SCOPED_TRACE(screen.name);
        auto view = panelFor(screen.state);
        const QImage picture = pictureOf(*view);
        EXPECT_EQ(picture.width() / picture.devicePixelRatio(), 300);
        EXPECT_EQ(headerDotColour(*view), MenuStyle::ofApplication().colour(screen.dot));
        EXPECT_EQ(compareWithReference(picture, screen.name), "");
    }
}

// Within one or two levels of each channel.
bool near(QColor seen, QColor expected) {
    return std::abs(seen.red() - expected.red()) <= 2 && std::abs(seen.green() - expected.green()) <= 2 &&
           std::abs(seen.blue() - expected.blue()) <= 2;
}

MenuViewState granted() {
    MenuViewState state;
    state.isListening = true;
    state.hostDisplayName = "Studio";
    state.pairingCode = "KX7P2M";
    state.accessibilityGranted = state.screenRecordingGranted = true;
    return state;
}

// Both banners, each on its orange box over the window's colour.
TEST(MenuViewScreens, TheBannersLookAsTheirReference) {
    MenuViewState state = granted();
    state.accessibilityGranted = state.screenRecordingGranted = false;
    auto view = panelFor(state);
    EXPECT_EQ(compareWithReference(pictureOf(*view), "panel-banners"), "");
    const auto style = MenuStyle::ofApplication();
    const QColor expected = blended(style.bannerFill(), view->palette().color(QPalette::Window));
    for (const auto banner : {MenuSection::accessibilityBanner, MenuSection::screenRecordingBanner}) {
        SCOPED_TRACE(std::string(nameOf(banner)));
        const QColor seen = fillColourAround(*view, banner, 1);
        EXPECT_TRUE(near(seen, expected)) << seen.name().toStdString() << " for " << expected.name().toStdString();
    }
}

// A waiting phone, an approved one listening, one approved and away, two revoked ones and the
// server's last error.
TEST(MenuViewScreens, TheDevicesLookAsTheirReference) {
    MenuViewState state = granted();
    state.connectedDevices = {{"W-1", "Bars Phone", false, false}, {"A-1", "Ada's phone", true, true}};
    state.approvedDevices = {{"A-1", "Ada's phone", {}}, {"A-2", "Grace's tablet", {}}};
    state.revokedDevices = {{"X-1", "Old phone", {}}, {"X-2", "Lost phone", {}}};
    state.lastError = "The port 61413 is in use by another program.";
    auto view = panelFor(state);
    EXPECT_EQ(compareWithReference(pictureOf(*view), "panel-devices"), "");
}

// Three cards, one with a detail of ten lines, each on its yellow box.
TEST(MenuViewScreens, TheApprovalsLookAsTheirReference) {
    MenuViewState state = granted();
    state.nowEpochMillis = 1'800'000'000'000;
    std::string detail;
    for (int line = 1; line <= 10; ++line) detail += "sed -i 's/a/b/' file" + std::to_string(line) + ".txt\n";
    for (const auto& [id, text, left] : std::vector<std::tuple<std::string, std::string, int>>{
             {"R-1", "git push origin main", 41'500}, {"R-2", detail, 12'000}, {"R-3", "curl example.org", 300}}) {
        ApprovalRequest request;
        request.id = id;
        request.targetName = "Claude in api";
        request.title = "Run a command";
        request.detail = text;
        request.expiresAtEpochMillis = state.nowEpochMillis + left;
        state.pendingApprovals.push_back(request);
    }
    auto view = panelFor(state);
    EXPECT_EQ(compareWithReference(pictureOf(*view), "panel-approvals"), "");
    const QColor expected = blended(MenuStyle::ofApplication().cardFill(), view->palette().color(QPalette::Window));
    for (std::size_t card = 0; card < 3; ++card) {
        SCOPED_TRACE(card);
        const QColor seen = fillColourAround(*view, MenuSection::approvals, 1 + card * 5);
        EXPECT_TRUE(near(seen, expected)) << seen.name().toStdString() << " for " << expected.name().toStdString();
    }
}

// Whether some pixel of the item, as drawn, is near `colour`: its text or its symbol.
bool drawnIn(MenuView& view, MenuSection section, std::size_t index, QColor colour) {
    const QImage picture = pictureOf(view);
    const QRect where = view.itemGeometry(section, index);
    const qreal scale = picture.devicePixelRatio();
    for (int y = static_cast<int>(where.top() * scale); y < static_cast<int>(where.bottom() * scale); ++y)
        for (int x = static_cast<int>(where.left() * scale); x < static_cast<int>(where.right() * scale); ++x)
            if (std::abs(picture.pixelColor(x, y).red() - colour.red()) <= 40 &&
                std::abs(picture.pixelColor(x, y).green() - colour.green()) <= 40 &&
                std::abs(picture.pixelColor(x, y).blue() - colour.blue()) <= 40)
                return true;
    return false;
}

QuibCandidate overlay(std::string host) { return {std::move(host), 61413, QuibCandidate::Reach::local, "interface"}; }

// Away access in each of its states; the reachable label is drawn green and the blocked one
// orange.
TEST(MenuViewScreens, AwayAccessLooksAsItsReferences) {
    using Kind = RemoteReachService::Status::Kind;
    MenuViewState off = granted();
    off.candidates = {overlay("100.101.7.12"), overlay("fd7a:115c:a1e0::5"), overlay("192.168.1.20")};
    off.push = "Not set up";
    MenuViewState working = granted();
    working.awayEnabled = true;
    working.reachStatus = {Kind::working, ""};
    MenuViewState reachable = working;
    reachable.reachStatus = {Kind::reachable, ""};
    reachable.reachDetail = "PCP · 203.0.113.5:61423";
    reachable.push = "2 phones";
    MenuViewState blocked = working;
    blocked.reachStatus = {Kind::blocked,
                           "The router would not open a port, and nothing on the internet could say "
                           "where this computer is."};
    const auto style = MenuStyle::ofApplication();
    for (const auto& [name, state] :
         std::vector<std::pair<std::string, MenuViewState>>{{"panel-away-off", off},
                                                            {"panel-away-working", working},
                                                            {"panel-away-reachable", reachable},
                                                            {"panel-away-blocked", blocked}}) {
        SCOPED_TRACE(name);
        auto view = panelFor(state);
        EXPECT_EQ(compareWithReference(pictureOf(*view), name), "");
        if (name == "panel-away-reachable") {
            EXPECT_TRUE(drawnIn(*view, MenuSection::away, 2, style.colour(Tone::green)));
        }
        if (name == "panel-away-blocked") {
            EXPECT_TRUE(drawnIn(*view, MenuSection::away, 2, style.colour(Tone::orange)));
        }
    }
}

MenuViewState targetsAndControls() {
    MenuViewState state = granted();
    QuibTarget editor;
    editor.id = "T1";
    editor.name = "Editor";
    QuibTarget pane;
    pane.id = "T2";
    pane.name = "build: zsh";
    state.targets = {editor, pane};
    state.unresolvedTargetIDs = {"T2"};
    state.activeTargetID = "T2";
    state.lastActivity = "Sent 42 characters to build: zsh\nand pressed Return\nthen a third line that is cut";
    return state;
}

// The picker on a target whose pane is missing, two lines of activity, and the install hint.
TEST(MenuViewScreens, TheTargetAndControlsLookAsTheirReference) {
    auto view = panelFor(targetsAndControls());
    EXPECT_EQ(compareWithReference(pictureOf(*view), "panel-target-controls"), "");
}

// Every section at once.
TEST(MenuViewScreens, TheWholePanelLooksAsItsReference) {
    MenuViewState state = targetsAndControls();
    state.accessibilityGranted = false;
    state.connectedDevices = {{"A-1", "Ada's phone", true, true}};
    state.approvedDevices = {{"A-1", "Ada's phone", {}}};
    state.candidates = {overlay("100.101.7.12")};
    state.reachStatus = {RemoteReachService::Status::Kind::reachable, ""};
    state.push = "1 phone";
    ApprovalRequest request;
    request.id = "R-1";
    request.targetName = "Claude in api";
    request.title = "Run a command";
    request.detail = "git push origin main";
    request.expiresAtEpochMillis = state.nowEpochMillis + 30'000;
    state.pendingApprovals = {request};
    auto view = panelFor(state);
    EXPECT_EQ(compareWithReference(pictureOf(*view), "panel-full"), "");
}

}  // namespace
}  // namespace quib
