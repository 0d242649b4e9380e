// Reading a window's pixels again only in the rows that changed.

#include "Tests/Support/X11/CaptureFixture.hpp"

#include "Platform/Linux/X11/X11WindowGrab.hpp"

namespace quib::testing {
namespace {

using Region = X11WindowGrab::Region;

Colour colourAt(const X11WindowGrab::Image& image, int y) {
    const std::uint8_t* pixel = image.pixels + static_cast<std::ptrdiff_t>(y) * image.stride + image.width / 2 * 4;
    return {pixel[2], pixel[1], pixel[0]};
}

class X11WindowGrabTest : public CaptureTest {
protected:
    std::unique_ptr<X11WindowGrab> openGrab(Window window, bool sharedMemory = true) {
        auto grab = X11WindowGrab::open(X11Connection::open(testDisplayName()), window, {sharedMemory});
        EXPECT_TRUE(grab) << grab.error().message;
        return grab ? std::move(grab).value() : nullptr;
    }
};

// Rows of the last read keep their pixels unless asked for; another part of the window, a pixmap
// named anew or a grab without shared memory read everything.
TEST_F(X11WindowGrabTest, ARegrabReadsOnlyTheRowsAskedWhereItKeepsTheLastReadOfThatPart) {
    auto window = openWindow();
    ASSERT_TRUE(window);
    paint(*window, green);
    auto grab = openGrab(window->window());
    ASSERT_TRUE(grab && grab->usesSharedMemory());
    const Region whole{0, 0, grab->width(), grab->height()};
    ASSERT_GE(whole.height, 80);
    EXPECT_FALSE(grab->keeps(whole)) << "nothing has been read yet";
    ASSERT_TRUE(grab->grab(whole));
    EXPECT_TRUE(grab->keeps(whole));

    paint(*window, red);
    const std::vector<RowBands::Span> rows{{10, 20}, {60, 70}, {-5, 2}};
    auto image = grab->regrab(whole, rows);
    ASSERT_TRUE(image);
    for (const auto& [y, expected] : std::vector<std::pair<int, Colour>>{
             {0, red}, {1, red}, {2, green}, {9, green}, {10, red}, {19, red}, {20, green}, {60, red}, {70, green}}) {
        EXPECT_TRUE(colourAt(*image, y).near(expected)) << "row " << y << " shows " << colourAt(*image, y);
    }

    const Region lower{0, 40, whole.width, whole.height - 40};
    EXPECT_FALSE(grab->keeps(lower));
    image = grab->regrab(lower, {});
    ASSERT_TRUE(image);
    EXPECT_TRUE(colourAt(*image, 0).near(red) && colourAt(*image, image->height - 1).near(red));
    ASSERT_TRUE(grab->rename());
    EXPECT_FALSE(grab->keeps(lower));
    paint(*window, blue);
    image = grab->regrab(lower, {});
    ASSERT_TRUE(image);
    EXPECT_TRUE(colourAt(*image, 0).near(blue) && colourAt(*image, image->height - 1).near(blue));

    auto throughConnection = openGrab(window->window(), false);
    ASSERT_TRUE(throughConnection && throughConnection->grab(whole));
    EXPECT_FALSE(throughConnection->keeps(whole));
    paint(*window, yellow);
    image = throughConnection->regrab(whole, {});
    ASSERT_TRUE(image);
    EXPECT_TRUE(colourAt(*image, whole.height / 2).near(yellow));
}

}  // namespace
}  // namespace quib::testing
