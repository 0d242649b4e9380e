#include "QuibHost/Panel/MenuDump.hpp"

#include "Runtime/Logger.hpp"

namespace quib {
namespace {

bool isControl(MenuItemKind kind) {
    return kind == MenuItemKind::button || kind == MenuItemKind::toggle || kind == MenuItemKind::picker ||
           kind == MenuItemKind::field;
}

void field(std::string& line, std::string_view name, std::string_view value) {
    line += '\t';
    line += name;
    line += '=';
    line += MenuDump::escape(value);
}

}  // namespace

std::string MenuDump::itemLine(std::string_view section, const MenuItem& item) {
    std::string line = std::string(section) + '\t' + std::string(nameOf(item.kind)) + '\t';
    line += MenuDump::escape(item.kind == MenuItemKind::symbol ? item.symbol : item.text);
    if (!item.symbol.empty() && item.kind != MenuItemKind::symbol) field(line, "symbol", item.symbol);
    if (!item.help.empty()) field(line, "help", item.help);
    if (item.tone != Tone::primary) field(line, "tone", nameOf(item.tone));
    if (item.font != TextStyle::body) field(line, "font", nameOf(item.font));
    if (item.on) field(line, "on", *item.on ? "1" : "0");
    if (isControl(item.kind)) field(line, "enabled", item.enabled ? "1" : "0");
    if (item.isDefault) field(line, "default", "1");
    if (item.selected) field(line, "selected", "1");
    if (item.lines) field(line, "lines", std::to_string(*item.lines));
    if (!item.label.empty()) field(line, "label", item.label);
    if (!item.key.empty()) field(line, "key", item.key);
    if (item.fill != Fill::none) field(line, "fill", nameOf(item.fill));
    if (item.borderless) field(line, "borderless", "1");
    if (item.small) field(line, "small", "1");
    return line;
}

std::string MenuDump::escape(std::string_view text) {
    std::string doubled;
    doubled.reserve(text.size());
    for (const char c : text) {
        doubled.push_back(c);
        if (c == '\\') doubled.push_back('\\');
    }
    return escapeControlCharacters(doubled);
}

std::vector<std::string> MenuDump::lines(const MenuViewModel& model) {
    std::vector<std::string> lines{"menubar\tsymbol\t" + escape(model.menuBarSymbol)};
    for (const auto& section : model.sections) {
        for (const auto& item : section.items) lines.push_back(itemLine(nameOf(section.id), item));
        if (section.dividerAfter) lines.push_back(std::string(nameOf(section.id)) + "\tdivider\t");
    }
    lines.emplace_back(endLine);
    return lines;
}

}  // namespace quib
