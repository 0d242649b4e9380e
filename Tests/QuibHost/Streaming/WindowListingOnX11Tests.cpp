// The window list of an app on the shared test display: its client windows joined with what
// capture sees, with JPEG pictures of those that show.

#include "Tests/Support/X11/CaptureFixture.hpp"

#include "Platform/Linux/PixbufJpegEncoder.hpp"
#include "Platform/Linux/X11/X11Desktop.hpp"
#include "QuibHost/Streaming/WindowListing.hpp"

namespace quib::testing {
namespace {

// The width and height of a baseline JPEG's frame (SOF0); none when it has none.
std::optional<std::pair<int, int>> jpegSize(const Bytes& jpeg) {
    for (std::size_t at = 2; at + 9 < jpeg.size();) {
        if (jpeg[at] != 0xFF) return std::nullopt;
        const int marker = jpeg[at + 1];
        if (marker == 0xC0) return std::pair{jpeg[at + 7] << 8 | jpeg[at + 8], jpeg[at + 5] << 8 | jpeg[at + 6]};
        at += 2 + static_cast<std::size_t>(jpeg[at + 2] << 8 | jpeg[at + 3]);
    }
    return std::nullopt;
}

class WindowListingOnX11 : public CaptureTest {};

TEST_F(WindowListingOnX11, ListsAnAppsWindowsWithPicturesAndTheMinimisedLast) {
    const auto apps = std::make_shared<DesktopEntries>(std::vector{this->apps.path});
    auto desktop = X11Desktop::open(testDisplayName(), apps);
    ASSERT_TRUE(desktop);
    WindowListing listing({.desktop = desktop->services,
                           .permissions = desktop->permissions,
                           .apps = apps,
                           .jpeg = std::make_shared<PixbufJpegEncoder>()});
    auto first = openWindow("First");
    auto second = openWindow("Second");
    auto iconified = openWindow("Iconified");
    auto tiny = openWindow("Tiny");
    ASSERT_TRUE(first && second && iconified && tiny);
    paint(*first, red);
    paint(*second, green);
    withControl([&](Display* display) {
        XResizeWindow(display, tiny->window(), 100, 100);
        XIconifyWindow(display, iconified->window(), DefaultScreen(display));
    });
    WindowListService::WindowList list;
    ASSERT_TRUE(eventually([&] {
        list = listing.windows(probeApp, std::nullopt, true);
        return list.windows.size() == 3 && list.windows.back().isMinimized;
    })) << list.windows.size();
    EXPECT_EQ(list.note, WindowListing::minimisedNote);
    EXPECT_LE(std::ranges::count_if(list.windows, &MacWindow::isFrontmost), 1);
    const std::vector<Window> expected{second->window(), first->window(), iconified->window()};
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& card = list.windows[i];
        SCOPED_TRACE(card.title);
        EXPECT_EQ(card.id, static_cast<std::uint32_t>(expected[i]));
        EXPECT_EQ(card.appName, "Capture Probe");
        const auto frame = frameOf(expected[i]);
        ASSERT_TRUE(frame);
        EXPECT_EQ(card.width, static_cast<std::int64_t>(frame->width));
        EXPECT_EQ(card.height, static_cast<std::int64_t>(frame->height));
        // The main window is the highest shown one, the tiny one here, which is not listed.
        EXPECT_FALSE(card.isFrontmost && i != 0);
        if (card.isMinimized) {
            EXPECT_FALSE(card.preview);
            continue;
        }
        ASSERT_TRUE(card.preview);
        const auto size = WindowListing::previewSize(frame->width, frame->height);
        EXPECT_EQ(jpegSize(*card.preview), (std::pair{size.width, size.height}));
    }
}

}  // namespace
}  // namespace quib::testing
