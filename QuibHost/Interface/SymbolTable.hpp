#pragma once

#include <QIcon>
#include <QStyle>

#include <string_view>

namespace quib {

// The one place that turns the panel's symbol names into pictures: the host's own pointer,
// drawn; else the freedesktop icon the name maps to, from the icon theme; else the symbol drawn
// here, and for any name not drawn here a neutral picture: never none.
class SymbolTable {
public:
    static QIcon icon(std::string_view symbol, const QStyle& style);
};

}  // namespace quib
