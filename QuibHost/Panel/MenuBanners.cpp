#include "QuibHost/Panel/MenuBanners.hpp"

#include <string>

#include "Runtime/HostWords.hpp"

namespace quib {
namespace {

std::vector<MenuItem> banner(std::string title, std::string symbol, std::string explanation, MenuAction action) {
    return {
        {.kind = MenuItemKind::label,
         .text = std::move(title),
         .symbol = std::move(symbol),
         .font = TextStyle::captionBold,
         .tone = Tone::orange,
         .fill = Fill::banner},
        {.kind = MenuItemKind::text,
         .text = std::move(explanation),
         .font = TextStyle::caption2,
         .tone = Tone::secondary,
         .fill = Fill::banner},
        {.kind = MenuItemKind::button,
         .text = std::string(MenuBanners::openSettings),
         .action = std::move(action),
         .fill = Fill::banner,
         .small = true},
    };
}

}  // namespace

std::vector<MenuItem> MenuBanners::accessibility() {
    return banner(std::string(said<capitalised<HostWords::inputNeed>, " is needed">), "exclamationmark.triangle.fill",
                  "Without it, clicks and typing are silently ignored.", MenuControl::OpenAccessibilitySettings{});
}

std::vector<MenuItem> MenuBanners::screenRecording() {
    return banner(std::string(said<capitalised<HostWords::captureNeed>, " is needed">), "rectangle.on.rectangle",
                  std::string(said<"Only for mirroring a window to your phone. ", HostWords::product, " must be ",
                                   HostWords::restart, "ed on one.">),
                  MenuControl::OpenScreenRecordingSettings{});
}

}  // namespace quib
