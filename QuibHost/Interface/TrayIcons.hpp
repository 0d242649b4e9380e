#pragma once

#include <QIcon>
#include <QPixmap>

namespace quib {

// The host's own pictures, drawn here so that they never depend on an icon theme: a pointer
// arrow with the strokes of a click, and the same arrow with a small clock as its badge.
class TrayIcons {
public:
    static QPixmap pointer(int size, bool withClock);
    // Both pictures at the sizes trays and menus ask for.
    static QIcon icon(bool withClock);
};

}  // namespace quib
