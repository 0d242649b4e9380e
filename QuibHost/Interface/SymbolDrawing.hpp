#pragma once

#include <QColor>
#include <QPainter>

#include <string_view>

namespace quib {

// The symbols the panel, the settings window and saved targets name, drawn in one colour on a
// square of 32 units, for desktops whose icon theme lacks them; any other name is drawn as a
// neutral rounded square, so that no row is ever left without its picture.
class SymbolDrawing {
public:
    // Whether the name is one of the symbols drawn as itself.
    static bool knows(std::string_view symbol);
    // Draws the symbol, or the neutral square for a name it does not know, into a square of
    // 32 units at the painter's origin.
    static void draw(std::string_view symbol, QPainter& painter, QColor ink);
};

}  // namespace quib
