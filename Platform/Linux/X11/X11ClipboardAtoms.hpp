#pragma once

#include <array>

#include <X11/Xlib.h>

namespace quib {

// The atoms the clipboard speaks in, interned once on its connection.
struct X11ClipboardAtoms {
    Atom clipboard = None;  // the selection served: CLIPBOARD, or PRIMARY
    Atom targets = None;
    Atom timestamp = None;
    Atom multiple = None;
    Atom incr = None;
    Atom atomPair = None;
    Atom integer = None;
    Atom atom = None;
    // A property of our own window whose empty appends tell the server's time.
    Atom clock = None;
    // Properties of our own window that another owner's answers are put in: a reading that was
    // given up moves on to the next, so that a late answer to it cannot mix into the next one.
    std::array<Atom, 4> replies{};

    // One round trip. `clipboard` is the selection named `selection` ("CLIPBOARD" or "PRIMARY").
    static X11ClipboardAtoms intern(Display* display, const char* selection = "CLIPBOARD");
};

}  // namespace quib
