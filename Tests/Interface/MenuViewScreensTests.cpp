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
    const QColor expected =
        blended(MenuStyle::ofApplication().cardFill(), view->palette().color(QPalette::Window));
    for (std::size_t card = 0; card < 3; ++card) {
        SCOPED_TRACE(card);
        const QColor seen = fillColourAround(*view, MenuSection::approvals, 1 + card * 5);
        EXPECT_TRUE(near(seen, expected)) << seen.name().toStdString() << " for " << expected.name().toStdString();
    }
}

}  // namespace
}  // namespace quib
