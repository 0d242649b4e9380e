#include "QuibHost/Panel/MenuViewModel.hpp"

#include <algorithm>

namespace quib {

const MenuViewSection* MenuViewModel::section(MenuSection id) const {
    const auto found = std::find_if(sections.begin(), sections.end(), [id](const auto& s) { return s.id == id; });
    return found == sections.end() ? nullptr : &*found;
}

MenuItem sectionTitle(std::string_view text) {
    return {.kind = MenuItemKind::text,
            .text = std::string(text),
            .font = TextStyle::caption2Bold,
            .tone = Tone::secondary};
}

std::string_view nameOf(MenuSection section) {
    switch (section) {
        case MenuSection::header: return "header";
        case MenuSection::accessibilityBanner: return "accessibilityBanner";
        case MenuSection::screenRecordingBanner: return "screenRecordingBanner";
        case MenuSection::approvals: return "approvals";
        case MenuSection::pairing: return "pairing";
        case MenuSection::away: return "away";
        case MenuSection::devices: return "devices";
        case MenuSection::target: return "target";
        case MenuSection::controls: return "controls";
    }
    return "";
}

std::string_view nameOf(MenuItemKind kind) {
    switch (kind) {
        case MenuItemKind::symbol: return "symbol";
        case MenuItemKind::title: return "title";
        case MenuItemKind::text: return "text";
        case MenuItemKind::markdown: return "markdown";
        case MenuItemKind::label: return "label";
        case MenuItemKind::button: return "button";
        case MenuItemKind::toggle: return "switch";
        case MenuItemKind::picker: return "picker";
        case MenuItemKind::choice: return "choice";
        case MenuItemKind::field: return "field";
        case MenuItemKind::value: return "value";
        case MenuItemKind::code: return "code";
        case MenuItemKind::dot: return "dot";
        case MenuItemKind::progress: return "progress";
        case MenuItemKind::divider: return "divider";
    }
    return "";
}

std::string_view nameOf(TextStyle style) {
    switch (style) {
        case TextStyle::body: return "body";
        case TextStyle::headline: return "headline";
        case TextStyle::title2: return "title2";
        case TextStyle::title2Monospaced: return "title2-monospaced";
        case TextStyle::title3: return "title3";
        case TextStyle::caption: return "caption";
        case TextStyle::captionBold: return "caption-bold";
        case TextStyle::caption2: return "caption2";
        case TextStyle::caption2Bold: return "caption2-bold";
        case TextStyle::caption2Monospaced: return "caption2-monospaced";
        case TextStyle::monospaced11: return "monospaced11";
        case TextStyle::monospaced10: return "monospaced10";
    }
    return "";
}

std::string_view nameOf(Tone tone) {
    switch (tone) {
        case Tone::primary: return "primary";
        case Tone::secondary: return "secondary";
        case Tone::orange: return "orange";
        case Tone::green: return "green";
        case Tone::red: return "red";
    }
    return "";
}

std::string_view nameOf(Fill fill) {
    switch (fill) {
        case Fill::none: return "none";
        case Fill::banner: return "banner";
        case Fill::card: return "card";
    }
    return "";
}

}  // namespace quib
