#include "Platform/Linux/X11/X11ClipboardAtoms.hpp"

#include <X11/Xatom.h>

namespace quib {

X11ClipboardAtoms X11ClipboardAtoms::intern(Display* display, const char* selection) {
    const char* names[] = {selection,       "TARGETS",       "TIMESTAMP",    "MULTIPLE",
                           "INCR",          "ATOM_PAIR",     "_QUIB_CLOCK",  "_QUIB_REPLY_0",
                           "_QUIB_REPLY_1", "_QUIB_REPLY_2", "_QUIB_REPLY_3"};
    constexpr int count = sizeof names / sizeof names[0];
    Atom atoms[count] = {};
    if (!XInternAtoms(display, const_cast<char**>(names), count, False, atoms)) return {};
    X11ClipboardAtoms made;
    made.clipboard = atoms[0];
    made.targets = atoms[1];
    made.timestamp = atoms[2];
    made.multiple = atoms[3];
    made.incr = atoms[4];
    made.atomPair = atoms[5];
    made.clock = atoms[6];
    for (std::size_t i = 0; i < made.replies.size(); ++i) made.replies[i] = atoms[7 + i];
    made.integer = XA_INTEGER;
    made.atom = XA_ATOM;
    return made;
}

}  // namespace quib
