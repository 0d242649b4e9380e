#include <gtest/gtest.h>

#include "Platform/HeadlessDesktop.hpp"

namespace quib {
namespace {

TEST(HeadlessDesktop, DropsInputHasNoDisplaysAndKeepsItsPasteboardInProcess) {
    const DesktopServices desktop = HeadlessDesktop::services();
    desktop.events->post(InputEvent::mouse(EventType::mouseMoved, {500, 500}, EventButton::left));
    EXPECT_EQ(desktop.pointer->pointerLocation(), (Point{0, 0}));
    EXPECT_EQ(desktop.displays->activeDisplayBounds(), std::vector<Rect>{});
    EXPECT_EQ(desktop.accessibility->focusedElementError(), AccessibilityProbe::cannotComplete);

    const std::int64_t before = desktop.pasteboard->changeCount();
    desktop.pasteboard->write({PasteboardItem{}.set(PasteboardType::string, bytesOf("kept"))});
    EXPECT_EQ(desktop.pasteboard->changeCount(), before + 1);
    EXPECT_EQ(textOf(*desktop.pasteboard->items().at(0).data(PasteboardType::string)), "kept");

    // Two headless desktops do not share a pasteboard, and a partial set is completed.
    EXPECT_TRUE(HeadlessDesktop::services().pasteboard->items().empty());
    const DesktopServices partial = DesktopServices{nullptr, nullptr, nullptr, nullptr, desktop.pasteboard}.completed();
    EXPECT_TRUE(partial.events && partial.pointer && partial.displays && partial.accessibility);
    EXPECT_EQ(partial.pasteboard, desktop.pasteboard);
}

}  // namespace
}  // namespace quib
