#include "QuibHost/Interface/SymbolTable.hpp"

#include <QPainter>
#include <QPixmap>

#include <array>
#include <optional>

#include "QuibHost/Interface/SymbolDrawing.hpp"
#include "QuibHost/Interface/TrayIcons.hpp"
#include "QuibHost/Panel/MenuViewModel.hpp"

namespace quib {
namespace {

struct Entry {
    std::string_view symbol;
    const char* themeName;
    std::optional<QStyle::StandardPixmap> standard;
};

// The freedesktop icons and the style's standard pictures that stand for the symbols.
const std::array<Entry, 21> entries{{
    {"exclamationmark.triangle.fill", "dialog-warning", QStyle::SP_MessageBoxWarning},
    {"rectangle.on.rectangle", "video-display", QStyle::SP_DesktopIcon},
    {"arrow.triangle.2.circlepath", "view-refresh", QStyle::SP_BrowserReload},
    {"checkmark.circle.fill", "emblem-default", QStyle::SP_DialogApplyButton},
    {"moon.zzz", "weather-clear-night", std::nullopt},
    {"bell.badge", "dialog-information", QStyle::SP_MessageBoxInformation},
    {"iphone", "phone", std::nullopt},
    {"iphone.slash", "network-offline", std::nullopt},
    {"headphones", "audio-headphones", QStyle::SP_MediaVolume},
    {"plus", "list-add", std::nullopt},
    {"minus", "list-remove", std::nullopt},
    {"app", "application-x-executable", std::nullopt},
    {"macwindow", "window-new", std::nullopt},
    {"cursorarrow.rays", "input-mouse", std::nullopt},
    {"sparkle", "starred", std::nullopt},
    {"terminal", "utilities-terminal", std::nullopt},
    {"chevron.left.forwardslash.chevron.right", "text-x-script", std::nullopt},
    {"bubble.left.and.text.bubble.right", "user-available", std::nullopt},
    {"hammer", "applications-development", std::nullopt},
    {"globe", "applications-internet", std::nullopt},
    {"brain", "applications-science", std::nullopt},
}};

// The drawn picture, in the style's text colour, at the sizes rows, buttons and menus ask for.
QIcon drawn(std::string_view symbol, const QStyle& style) {
    QIcon icon;
    const QColor ink = style.standardPalette().color(QPalette::WindowText);
    for (const int size : {16, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.scale(size / 32.0, size / 32.0);
        SymbolDrawing::draw(symbol, painter, ink);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

QIcon SymbolTable::icon(std::string_view symbol, const QStyle& style) {
    if (symbol == MenuSymbol::pointer) return TrayIcons::icon(false);
    if (symbol == MenuSymbol::pointerWithClock) return TrayIcons::icon(true);
    for (const auto& entry : entries) {
        if (entry.symbol != symbol) continue;
        const QIcon themed = QIcon::fromTheme(QString::fromLatin1(entry.themeName));
        if (!themed.isNull()) return themed;
        if (entry.standard) return style.standardIcon(*entry.standard);
        break;
    }
    return drawn(symbol, style);
}

}  // namespace quib
