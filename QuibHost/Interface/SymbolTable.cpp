#include "QuibHost/Interface/SymbolTable.hpp"

#include <array>
#include <optional>

#include "QuibHost/App/ViewModels/MenuViewModel.hpp"
#include "QuibHost/Interface/TrayIcons.hpp"

namespace quib {
namespace {

struct Entry {
    std::string_view symbol;
    const char* themeName;
    std::optional<QStyle::StandardPixmap> standard;
};

const std::array<Entry, 9> entries{{
    {"exclamationmark.triangle.fill", "dialog-warning", QStyle::SP_MessageBoxWarning},
    {"rectangle.on.rectangle", "video-display", QStyle::SP_DesktopIcon},
    {"arrow.triangle.2.circlepath", "view-refresh", QStyle::SP_BrowserReload},
    {"checkmark.circle.fill", "emblem-default", QStyle::SP_DialogApplyButton},
    {"moon.zzz", "weather-clear-night", std::nullopt},
    {"bell.badge", "dialog-information", QStyle::SP_MessageBoxInformation},
    {"iphone", "phone", std::nullopt},
    {"iphone.slash", "network-offline", std::nullopt},
    {"headphones", "audio-headphones", QStyle::SP_MediaVolume},
}};

}  // namespace

QIcon SymbolTable::icon(std::string_view symbol, const QStyle& style) {
    if (symbol == MenuSymbol::pointer) return TrayIcons::icon(false);
    if (symbol == MenuSymbol::pointerWithClock) return TrayIcons::icon(true);
    for (const auto& entry : entries) {
        if (entry.symbol != symbol) continue;
        const QIcon themed = QIcon::fromTheme(QString::fromLatin1(entry.themeName));
        if (!themed.isNull()) return themed;
        return entry.standard ? style.standardIcon(*entry.standard) : QIcon();
    }
    return QIcon();
}

}  // namespace quib
