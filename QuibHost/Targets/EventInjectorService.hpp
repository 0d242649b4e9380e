#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>

#include "QuibHost/Targets/TargetOutcome.hpp"
#include "Runtime/Geometry.hpp"
#include "Runtime/HostWords.hpp"
#include "Shared/AttachmentFrame.hpp"
#include "Shared/ClickPhase.hpp"
#include "Shared/KeyChord.hpp"
#include "Shared/MouseButton.hpp"
#include "Shared/ScrollGesturePhase.hpp"

namespace quib {

// What the rest of the host asks of the event injector: the phone's pointer, click and scroll
// input, letting go of input when connections end or the server stops, the pause and trust
// flags (the connection server and the host state), and the pastes, key presses and pointer
// landing of deliveries (the target router). Every operation is safe on any thread; the flags
// are read under the injector's state lock.
class EventInjectorService {
public:
    // Follows the spoken chord of a key outside the key table: "F1 isn't a key ...".
    static constexpr std::string_view unknownKeyText = said<" isn't a key ", HostWords::product, " knows how to press">;

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
    // The same answer without asking the desktop again.
    virtual bool isTrusted() const = 0;

    // Puts text on the pasteboard and presses Command-V into whatever app has focus; the user's
    // pasteboard comes back a moment later unless something else used it meanwhile. Does nothing
    // while paused. Blocks the caller for a short wait.
    virtual void paste(const std::string& text) = 0;
    // Pastes an image file with its file URL; false, doing nothing, when the file cannot be read.
    virtual bool paste(const std::filesystem::path& image, AttachmentFrame::Format format) = 0;
    // Presses the chord `repeatCount` times into whatever app has focus; `name` names that app
    // in the success text. Refuses when the host is not trusted or the key is not one it can press.
    virtual TargetOutcome postKey(const KeyChord& chord, const std::string& name) = 0;
    // Posts one key-down and key-up pair with the modifier flags (Command-V, Return).
    virtual void postKeyEvents(std::uint16_t keyCode, std::uint64_t flags) = 0;
    // Lands the pointer in the largest visible part of a window the host has just raised, unless
    // the user switched that off, a button is held (a drag is never cut short), or it is there.
    virtual void follow(const Rect& window) = 0;
};

}  // namespace quib
