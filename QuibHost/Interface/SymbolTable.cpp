#include "QuibHost/Interface/SymbolTable.hpp"

#include <QPainter>
#include <QPixmap>

#include <array>
#include <optional>

#include "QuibHost/Panel/MenuViewModel.hpp"
#include "QuibHost/Interface/TrayIcons.hpp"

namespace quib {
namespace {

struct Entry {
    std::string_view symbol;
    const char* themeName;
    std::optional<QStyle::StandardPixmap> standard;
};

const std::array<Entry, 13> entries{{
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
    {"square.dashed", "", std::nullopt},
    {"app.dashed", "", std::nullopt},
}};

// A phone drawn on a grid of 32 units, upright, crossed out when `slashed`: for the themes
// that have no phone.
QIcon drawnPhone(bool slashed, const QStyle& style) {
    QIcon icon;
    const QColor ink = style.standardPalette().color(QPalette::WindowText);
    for (const int size : {16, 24, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 32.0, size / 32.0);
        painter.setPen(QPen(ink, 2.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(9, 3, 14, 26), 3, 3);
        painter.drawLine(QPointF(14, 25), QPointF(18, 25));
        if (slashed) {
            painter.setPen(QPen(ink, 2.5, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(QPointF(4, 4), QPointF(28, 28));
        }
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// The settings window's symbols, drawn on a grid of 32 units for the themes that lack them (and
// always for the dashed ones, which no theme has): a plus, a minus, a dashed square and a dashed
// rounded square.
QIcon drawnShape(std::string_view symbol, const QStyle& style) {
    QIcon icon;
    const QColor ink = style.standardPalette().color(QPalette::WindowText);
    for (const int size : {16, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 32.0, size / 32.0);
        const bool dashed = symbol == "square.dashed" || symbol == "app.dashed";
        painter.setPen(QPen(ink, dashed ? 2.5 : 3, dashed ? Qt::DashLine : Qt::SolidLine, Qt::FlatCap));
        painter.setBrush(Qt::NoBrush);
        if (symbol == "plus" || symbol == "minus") painter.drawLine(QPointF(7, 16), QPointF(25, 16));
        if (symbol == "plus") painter.drawLine(QPointF(16, 7), QPointF(16, 25));
        if (symbol == "square.dashed") painter.drawRect(QRectF(5, 5, 22, 22));
        if (symbol == "app.dashed") painter.drawRoundedRect(QRectF(5, 5, 22, 22), 6, 6);
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
        const QIcon themed = *entry.themeName ? QIcon::fromTheme(QString::fromLatin1(entry.themeName)) : QIcon();
        if (!themed.isNull()) return themed;
        if (entry.symbol == "iphone" || entry.symbol == "iphone.slash") return drawnPhone(entry.symbol != "iphone", style);
        if (entry.symbol == "plus" || entry.symbol == "minus" || entry.symbol.ends_with(".dashed"))
            return drawnShape(entry.symbol, style);
        return entry.standard ? style.standardIcon(*entry.standard) : QIcon();
    }
    return QIcon();
}

}  // namespace quib
