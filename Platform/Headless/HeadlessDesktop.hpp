#pragma once

#include "Platform/DesktopServices.hpp"

namespace quib {

// A machine without a display. Input is accepted and dropped, the pointer rests at (0, 0),
// there are no displays (and so no display changes), the accessibility interface has nothing
// to answer, and the pasteboard lives in this process. Installed apps are read from the
// desktop entries, but none runs, no window can be raised, no menu read, no document open and
// no window captured.
class HeadlessDesktop final : public EventPoster,
                              public PointerLocation,
                              public DisplayList,
                              public AccessibilityProbe,
                              public OpenDocuments,
                              public WindowSource {
public:
    // A fresh headless desktop with a pasteboard of its own.
    static DesktopServices services();
    // `all` of a desktop's services, with the headless one in place of each that is missing: for
    // whoever wires a desktop that offers only some of them.
    static DesktopServices fillGaps(DesktopServices all);

    void post(const InputEvent&) override {}
    Point pointerLocation() override { return {}; }
    std::optional<std::vector<Rect>> activeDisplayBounds() override { return std::vector<Rect>{}; }
    Subscription onChange(std::function<void()>) override { return {}; }
    std::int32_t focusedElementError() override { return cannotComplete; }
    std::optional<std::string> documentURL(std::int64_t) override { return std::nullopt; }
    std::optional<std::vector<Window>> shareableWindows() override { return std::nullopt; }
    bool screenLocked() override { return false; }
    std::optional<double> backingScaleFactor() override { return std::nullopt; }
    std::optional<double> windowCornerRadius() override { return std::nullopt; }
    Result<RgbPicture> windowPicture(std::uint32_t, int, int) override {
        return fail("There is no display to capture");
    }
    Result<RgbPicture> displayPicture(const Rect&, int, int) override { return fail("There is no display to capture"); }
    Result<std::shared_ptr<WindowStream>> openStream(std::uint32_t, const WindowStream::Configuration&,
                                                     std::shared_ptr<Executor>, WindowStream::Handlers) override {
        return fail("There is no display to capture");
    }
};

}  // namespace quib
