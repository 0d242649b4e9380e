#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include <X11/Xlib.h>

namespace quib {

// The keyboard map of an X server as the host types on it: which keycode gives a keysym, and
// whether Shift must be held for it. Read on first use and again once marked stale (after the
// server announces a mapping change). Not thread-safe: its owner calls it under the lock of the
// connection it reads.
class X11Keymap {
public:
    // A key to press for a keysym.
    struct Stroke {
        KeyCode keycode = 0;
        bool shift = false;  // the keysym sits at shift level 2 only
        bool operator==(const Stroke&) const = default;
    };

    // The keysym a key name of the host's key table stands for; NoSymbol for a name outside it.
    static KeySym keysymForKeyName(std::string_view name);

    // The key that types `keysym` without other modifiers than Shift; none when no keycode
    // holds it at level 1 or 2.
    std::optional<Stroke> find(Display* display, KeySym keysym);
    // A keycode that holds no keysym at all, free to bind for a moment; none when every
    // keycode is in use.
    std::optional<KeyCode> spareKeycode(Display* display);

    // Binds `keysym` to the spare `keycode`, then empties it again. The map is read again on
    // next use either way.
    void bind(Display* display, KeyCode keycode, KeySym keysym);
    void unbind(Display* display, KeyCode keycode);

    // The server's map changed: read it again on next use.
    void markStale() { loaded_ = false; }

private:
    void load(Display* display);
    KeySym at(int keycode, int level) const;

    bool loaded_ = false;
    int minKeycode_ = 0;
    int maxKeycode_ = -1;
    int perKeycode_ = 0;
    std::vector<KeySym> symbols_;  // perKeycode_ entries for each keycode from minKeycode_
};

}  // namespace quib
