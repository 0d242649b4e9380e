#include "QuibHost/Panel/SettingsViewModel.hpp"

#include <algorithm>

#include "QuibHost/Targets/TargetStore.hpp"

namespace quib {
namespace {

std::optional<QuibTarget> chosen(const std::vector<QuibTarget>& targets, const std::set<std::string>& selection,
                                 const std::optional<std::string>& current) {
    if (current && selection.contains(*current)) {
        const auto found = std::ranges::find(targets, *current, &QuibTarget::id);
        if (found != targets.end()) return *found;
    }
    const auto first = std::ranges::find_if(targets, [&](const QuibTarget& t) { return selection.contains(t.id); });
    return first == targets.end() ? std::nullopt : std::optional<QuibTarget>(*first);
}

}  // namespace

SettingsViewModel SettingsViewModel::build(const std::vector<QuibTarget>& targets,
                                           const std::set<std::string>& unresolved,
                                           const std::set<std::string>& selection,
                                           const std::optional<std::string>& current) {
    SettingsViewModel model;
    model.rows.reserve(targets.size());
    for (const auto& target : targets) {
        model.rows.push_back({.id = target.id,
                              .name = target.name,
                              .symbol = target.symbol,
                              .unresolved = unresolved.contains(target.id),
                              .selected = selection.contains(target.id)});
    }
    model.canAdd = targets.size() < TargetStore::mostTargets;
    model.canRemove = !selection.empty();
    // One form for every number, one included.
    model.count = std::to_string(targets.size()) + std::string(Texts::countSuffix);
    model.selectedTarget = chosen(targets, selection, current);
    return model;
}

}  // namespace quib
