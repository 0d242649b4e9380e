// The keyboard half of the X event poster.

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <thread>

#include "Platform/Freedesktop/TerminalEmulators.hpp"
#include "Platform/Linux/X11/X11EventPoster.hpp"
#include "Platform/Linux/X11/X11Properties.hpp"
#include "Shared/KeyChord.hpp"

namespace quib {

// The window class is read under the lock; the desktop entries, which may touch the disk, are
// asked outside it.
std::optional<X11Properties::WindowClass> X11EventPoster::focusedClass() {
    std::optional<X11Properties::WindowClass> focused;
    connection_->use([&](Display* display) {
        if (const auto window = X11Properties::focusedWindow(display))
            focused = X11Properties::windowClass(display, *window);
    });
    return focused;
}

bool X11EventPoster::focusPastesSelection() {
    const auto focused = focusedClass();
    return focused && TerminalEmulators::pastesPrimaryOnly(focused->className);
}

bool X11EventPoster::focusIsTerminal() {
    const auto focused = focusedClass();
    if (!focused) return false;
    if (!apps_) return TerminalEmulators::isKnownClass(focused->className);
    return TerminalEmulators::ownsWindow(*apps_, focused->className, focused->instance);
}

// Command and Control press Control once; a terminal's Command adds Shift, as does a keysym
// found at level 2 only. A modifier missing from the map is left out.
std::vector<KeyCode> X11EventPoster::modifierKeycodes(Display* display, std::uint64_t flags, bool levelShift,
                                                      bool terminal) {
    const bool command = (flags & EventFlags::command) != 0;
    const bool control = (flags & EventFlags::control) != 0 || command;
    const bool alt = (flags & EventFlags::option) != 0;
    const bool shift = (flags & EventFlags::shift) != 0 || levelShift || (command && terminal);
    std::vector<KeyCode> keycodes;
    for (const auto& [wanted, keysym] : {std::pair{control, XK_Control_L}, {alt, XK_Alt_L}, {shift, XK_Shift_L}}) {
        if (!wanted) continue;
        if (const auto stroke = keymap_.find(display, keysym)) keycodes.push_back(stroke->keycode);
    }
    return keycodes;
}

// A key code outside the host's key table, or a keysym with neither a keycode nor a spare one
// to bind, presses nothing.
void X11EventPoster::pressKey(const InputEvent& event) {
    const auto name = KeyChord::keyForVirtualKey(event.keyCode);
    if (!name) return;
    KeySym keysym = X11Keymap::keysymForKeyName(*name);
    if (keysym == NoSymbol) return;
    std::uint64_t flags = event.flags;
    // A paste into a terminal that pastes PRIMARY only is its own paste key, Shift+Insert.
    if (*name == "v" && flags == EventFlags::command && focusPastesSelection()) {
        keysym = XK_Insert;
        flags = EventFlags::shift;
    }
    const bool terminal = (flags & EventFlags::command) != 0 && focusIsTerminal();
    connection_->use([&](Display* display) {
        sync(display);  // a mapping change announced before now is seen now
        Press press;
        auto stroke = keymap_.find(display, keysym);
        if (!stroke) {
            const auto spare = keymap_.spareKeycode(display);
            if (!spare) return;
            keymap_.bind(display, *spare, keysym);
            stroke = X11Keymap::Stroke{*spare, false};
            press.spare = true;
        }
        press.keycode = stroke->keycode;
        press.modifiers = modifierKeycodes(display, flags, stroke->shift, terminal);
        for (KeyCode modifier : press.modifiers) XTestFakeKeyEvent(display, modifier, True, CurrentTime);
        XTestFakeKeyEvent(display, press.keycode, True, CurrentTime);
        sync(display);
        pressed_[event.keyCode] = std::move(press);
    });
}

// Lets go of what the matching press pressed, and only that. A spare keycode keeps its keysym a
// moment longer, until the clients have read the map that types it, then is emptied again.
void X11EventPoster::releaseKey(const InputEvent& event) {
    std::optional<KeyCode> spare;
    connection_->use([&](Display* display) {
        const auto found = pressed_.find(event.keyCode);
        if (found == pressed_.end()) return;
        const Press press = std::move(found->second);
        pressed_.erase(found);
        XTestFakeKeyEvent(display, press.keycode, False, CurrentTime);
        for (auto modifier = press.modifiers.rbegin(); modifier != press.modifiers.rend(); ++modifier) {
            XTestFakeKeyEvent(display, *modifier, False, CurrentTime);
        }
        sync(display);
        if (press.spare) spare = press.keycode;
    });
    if (!spare) return;
    std::this_thread::sleep_for(spareKeySettle);
    connection_->use([&](Display* display) {
        keymap_.unbind(display, *spare);
        sync(display);
    });
}

}  // namespace quib
