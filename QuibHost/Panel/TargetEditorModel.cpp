#include "QuibHost/Panel/TargetEditorModel.hpp"

#include <algorithm>

#include "Platform/Freedesktop/AppIdentity.hpp"
#include "QuibHost/Panel/MenuDump.hpp"
#include "Shared/ShortcutProfiles.hpp"

namespace quib {
namespace {

std::string text(std::string_view view) { return std::string(view); }

MenuItem header(std::string_view title) {
    return {.kind = MenuItemKind::text, .text = text(title), .font = TextStyle::headline};
}

MenuItem caption(std::string_view note) {
    return {.kind = MenuItemKind::text, .text = text(note), .font = TextStyle::caption, .tone = Tone::secondary};
}

MenuItem field(std::string_view label, std::string value, std::string_view help = {}) {
    return {.kind = MenuItemKind::field, .text = std::move(value), .help = text(help), .label = text(label)};
}

MenuItem valueItem(std::string_view label, std::string value, std::string_view help = {}) {
    return {.kind = MenuItemKind::value, .text = std::move(value), .help = text(help), .label = text(label)};
}

MenuItem button(std::string_view title) { return {.kind = MenuItemKind::button, .text = text(title)}; }

// A picker and its rows; the first row tagged with the selection is the selected one.
void appendPicker(std::vector<MenuItem>& items, std::string_view label,
                  const std::vector<std::pair<std::string, std::string>>& rows, const std::string& selection) {
    items.push_back({.kind = MenuItemKind::picker, .label = text(label)});
    bool selected = false;
    for (const auto& [row, tag] : rows) {
        const bool chosen = !selected && tag == selection;
        selected = selected || chosen;
        items.push_back({.kind = MenuItemKind::choice, .text = row, .selected = chosen, .key = tag});
    }
}

std::vector<MenuItem> general(const QuibTarget& target) {
    std::vector<MenuItem> items{field(TargetEditorModel::name, target.name),
                                field(TargetEditorModel::symbol, target.symbol, TargetEditorModel::symbolHelp)};
    std::vector<std::pair<std::string, std::string>> rows;
    for (const auto& row : TargetEditorModel::kindRows) rows.emplace_back(text(row.text), text(enumName(row.kind)));
    appendPicker(items, TargetEditorModel::delivery, rows, text(enumName(target.kind)));
    return items;
}

// The pinned built-in profile, else the one the identifier's product uses.
std::string buttonsName(const QuibTarget& target) {
    if (const auto* pinned = ShortcutProfiles::profile(target.profileID)) return pinned->name;
    const auto& guessed = target.bundleID ? AppIdentity::guessProfile(std::string_view(*target.bundleID))
                                          : AppIdentity::guessProfile(std::nullopt);
    return guessed.name;
}

std::vector<MenuItem> application(const TargetEditorModel::Input& input) {
    const auto& target = input.target;
    const std::string bundleID = target.bundleID.value_or("");
    std::vector<MenuItem> items{header(TargetEditorModel::applicationHeader),
                                field(TargetEditorModel::bundleIdentifier, bundleID)};
    std::vector<std::pair<std::string, std::string>> rows{{text(TargetEditorModel::none), ""}};
    for (const auto& app : input.runningApps) rows.emplace_back(app.name + "  (" + app.bundleID + ")", app.bundleID);
    appendPicker(items, TargetEditorModel::runningApp, rows, bundleID);
    items.push_back(button(TargetEditorModel::chooseApp));
    items.push_back(valueItem(TargetEditorModel::buttons, buttonsName(target), TargetEditorModel::buttonsHelp));
    return items;
}

std::vector<MenuItem> tmux(const TargetEditorModel::Input& input) {
    if (!input.tmuxAvailable) return {header(TargetEditorModel::tmuxHeader), caption(TargetEditorModel::tmuxMissing)};
    const auto& saved = input.target.tmuxTarget;
    std::vector<MenuItem> items{header(TargetEditorModel::tmuxHeader)};
    std::vector<std::pair<std::string, std::string>> rows{{text(TargetEditorModel::none), ""}};
    for (const auto& pane : input.tmuxPanes) rows.emplace_back(pane.spec + "  " + pane.command, pane.id);
    const bool listed = saved && std::ranges::any_of(input.tmuxPanes, [&](const auto& p) { return p.id == *saved; });
    if (saved && !saved->empty() && !listed) {
        std::string row = *saved;
        row.append(TargetEditorModel::notRunning);
        rows.emplace_back(std::move(row), *saved);
    }
    appendPicker(items, TargetEditorModel::pane, rows, saved.value_or(""));
    items.push_back(valueItem(TargetEditorModel::paneID, saved.value_or(text(TargetEditorModel::none))));
    items.push_back(button(TargetEditorModel::refreshPanes));
    return items;
}

std::vector<MenuItem> returns(const QuibTarget& target) {
    return {
        {.kind = MenuItemKind::toggle,
         .text = text(TargetEditorModel::allowReturn),
         .help = text(TargetEditorModel::allowReturnHelp),
         .on = target.allowAutoSubmit},
        {.kind = MenuItemKind::toggle,
         .text = text(TargetEditorModel::pressReturn),
         .enabled = target.allowAutoSubmit,
         .on = target.submitOnSend},
    };
}

bool named(const MenuItem& item, std::string_view labelOrText) {
    return (item.label.empty() ? item.text : item.label) == labelOrText;
}

}  // namespace

TargetEditorModel TargetEditorModel::build(const Input& input) {
    TargetEditorModel model;
    model.sections[0] = general(input.target);
    switch (input.target.kind) {
        case QuibTarget::Kind::app: model.sections[1] = application(input); break;
        case QuibTarget::Kind::tmux: model.sections[1] = tmux(input); break;
        case QuibTarget::Kind::frontmost: model.sections[1] = {caption(frontmostNote)}; break;
    }
    model.sections[2] = returns(input.target);
    return model;
}

const MenuItem* TargetEditorModel::control(MenuItemKind kind, std::string_view labelOrText) const {
    for (const auto& section : sections)
        for (const auto& item : section)
            if (item.kind == kind && named(item, labelOrText)) return &item;
    return nullptr;
}

std::vector<MenuItem> TargetEditorModel::rows(std::string_view picker) const {
    for (const auto& section : sections) {
        auto at = std::ranges::find_if(
            section, [&](const MenuItem& item) { return item.kind == MenuItemKind::picker && item.label == picker; });
        if (at == section.end()) continue;
        const auto end = std::find_if(std::next(at), section.end(),
                                      [](const MenuItem& item) { return item.kind != MenuItemKind::choice; });
        return {std::next(at), end};
    }
    return {};
}

std::vector<std::string> TargetEditorModel::lines() const {
    std::vector<std::string> lines;
    for (std::size_t index = 0; index < sections.size(); ++index)
        for (const auto& item : sections[index])
            lines.push_back(MenuDump::itemLine("editor" + std::to_string(index + 1), item));
    lines.emplace_back(MenuDump::endLine);
    return lines;
}

}  // namespace quib
