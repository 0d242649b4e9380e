#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quib
