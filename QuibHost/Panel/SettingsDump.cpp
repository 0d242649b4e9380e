#include "QuibHost/Panel/SettingsDump.hpp"

#include "QuibHost/Panel/MenuDump.hpp"

namespace quib {
namespace {

using Texts = SettingsViewModel::Texts;

void listLines(const SettingsViewModel& model, std::vector<std::string>& lines) {
    for (const auto& row : model.rows) {
        lines.push_back(MenuDump::itemLine("list", {.kind = MenuItemKind::label,
                                                    .text = row.name,
                                                    .symbol = row.symbol,
                                                    .selected = row.selected,
                                                    .key = row.id}));
        if (!row.unresolved) continue;
        lines.push_back(MenuDump::itemLine("list", {.kind = MenuItemKind::symbol,
                                                    .symbol = std::string(Texts::warningSymbol),
                                                    .tone = Tone::orange,
                                                    .help = std::string(Texts::warningHelp),
                                                    .key = row.id,
                                                    .place = Placement::end}));
    }
    lines.emplace_back("list\tdivider\t");
}

void barLines(const SettingsViewModel& model, std::vector<std::string>& lines) {
    const auto button = [](std::string_view symbol, bool enabled) {
        return MenuItem{
            .kind = MenuItemKind::button, .symbol = std::string(symbol), .enabled = enabled, .borderless = true};
    };
    lines.push_back(MenuDump::itemLine("bar", button(Texts::addSymbol, model.canAdd)));
    lines.push_back(MenuDump::itemLine("bar", button(Texts::removeSymbol, model.canRemove)));
    lines.push_back(MenuDump::itemLine(
        "bar",
        {.kind = MenuItemKind::text, .text = model.count, .font = TextStyle::caption2, .tone = Tone::secondary}));
}

void detailLines(const SettingsViewModel& model, std::vector<std::string>& lines) {
    if (const auto& target = model.selectedTarget) {
        lines.push_back(
            MenuDump::itemLine("detail", {.kind = MenuItemKind::text, .text = target->name, .key = target->id}));
        return;
    }
    lines.push_back(
        MenuDump::itemLine("detail", {.kind = MenuItemKind::symbol, .symbol = std::string(Texts::placeholderSymbol)}));
    lines.push_back(MenuDump::itemLine(
        "detail",
        {.kind = MenuItemKind::text, .text = std::string(Texts::placeholderTitle), .font = TextStyle::title3}));
    lines.push_back(MenuDump::itemLine(
        "detail",
        {.kind = MenuItemKind::text, .text = std::string(Texts::placeholderDescription), .tone = Tone::secondary}));
}

}  // namespace

std::vector<std::string> SettingsDump::lines(const SettingsViewModel& model) {
    std::vector<std::string> lines;
    listLines(model, lines);
    barLines(model, lines);
    detailLines(model, lines);
    lines.emplace_back(MenuDump::endLine);
    return lines;
}

}  // namespace quib
