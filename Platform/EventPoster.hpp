#pragma once

#include "Platform/InputEvent.hpp"

namespace quib {

// Posts synthetic input system-wide, as if it came from the hardware: the pointer, the mouse
// buttons, the scroll wheels and the keyboard. Posting never waits for the event to be handled,
// and an event the desktop cannot take is dropped without a word. Safe on any thread; events
// posted from one thread arrive in the order posted.
class EventPoster {
public:
    virtual ~EventPoster() = default;
    virtual void post(const InputEvent& event) = 0;
    // Whether the focused window pastes, with its default keys, only the desktop's selection
    // (DesktopServices::selection) and not the pasteboard. Its Command-V is then pressed as the
    // key that pastes the selection.
    virtual bool focusPastesSelection() { return false; }
    // Whether the focused window is a terminal emulator's, which takes pasted text but not a
    // pasted picture.
    virtual bool focusIsTerminal() { return false; }
};

}  // namespace quib
