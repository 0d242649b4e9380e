#pragma once

#include <cstdint>
#include <set>

#include "Platform/Geometry.hpp"
#include "Shared/ClickPhase.hpp"
#include "Shared/MouseButton.hpp"
#include "Shared/ScrollGesturePhase.hpp"

namespace quib {

// What the connection server and the host state ask of the event injector: the phone's pointer,
// click and scroll input, letting go of input when connections end or the server stops, and the
// pause and trust flags. Every operation is safe on any thread; the flags are read under the
// injector's state lock.
class EventInjectorService {
public:
    virtual ~EventInjectorService() = default;

    // Pointer input; each does nothing while paused.
    // Moves the pointer by a distance in points, kept on the displays.
    virtual void move(double dx, double dy) = 0;
    // Moves the pointer to a point in global display coordinates, kept on the displays.
    virtual void point(Point to) = 0;
    // Presses, releases, or clicks a button at the pointer; a click count below 2 counts as 1.
    virtual void click(MouseButton button, ClickPhase phase, std::int64_t clickCount) = 0;
    // Scrolls by pixels, as part of the current gesture or momentum run.
    virtual void scroll(double dx, double dy) = 0;
    // Begins or ends a scroll gesture or a momentum run.
    virtual void scroll(ScrollGesturePhase phase) = 0;

    // Releases every mouse button the injector holds down, paused or not.
    virtual void releaseAllButtons() = 0;
    // Releases those of `buttons` that the injector holds down; others are ignored.
    virtual void release(const std::set<MouseButton>& buttons) = 0;
    // Puts the scroll-gesture phase state back to its initial value.
    virtual void resetScrollPhase() = 0;
    // Forgets the cached display bounds; the next pointer event reads them again.
    virtual void clearDisplayCache() = 0;

    // While paused, input does nothing. Pausing also lets go of held buttons and the scroll gesture.
    virtual bool isPaused() const = 0;
    virtual void setPaused(bool paused) = 0;
    // The desktop's accessibility interface refused the process at the last trust check.
    virtual bool apiDisabled() const = 0;
    // Asks the desktop for its focused element, which refreshes `apiDisabled`; then answers whether
    // input can be posted: the process is trusted and the interface not disabled.
    virtual bool revalidateTrust() = 0;
};

}  // namespace quib
