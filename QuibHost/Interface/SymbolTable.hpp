#pragma once

#include <QIcon>
#include <QStyle>

#include <string_view>

namespace quib {

// The one place that turns the panel's symbol names into pictures: the host's own pointer,
// drawn; else the freedesktop icon the name maps to, from the icon theme; else a standard icon
// of the style, or for a phone, one drawn here; else none.
class SymbolTable {
public:
    static QIcon icon(std::string_view symbol, const QStyle& style);
};

}  // namespace quib
