#include "QuibHost/Panel/SettingsActions.hpp"

#include "QuibHost/Targets/TargetStore.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/SecureRandom.hpp"

namespace quib {

SettingsActions::SettingsActions(Config config) : config_(std::move(config)) {}

SettingsViewModel SettingsActions::model(const std::set<std::string>& selection,
                                         const std::optional<std::string>& current) {
    auto& store = *config_.store;
    return SettingsViewModel::build(store.targets().value(), store.unresolvedTargetIDs().value(), selection, current);
}

QuibTarget SettingsActions::newTarget(std::string id) {
    QuibTarget target;
    target.id = std::move(id);
    target.name = "New target";
    target.kind = QuibTarget::Kind::app;
    target.submitOnSend = true;
    target.allowAutoSubmit = true;
    target.symbol = "app.dashed";
    target.isProvisional = false;
    return target;
}

std::optional<std::string> SettingsActions::add() {
    auto& store = *config_.store;
    if (store.targets().value().size() >= TargetStore::mostTargets) return std::nullopt;
    auto target = newTarget(newUuidString());
    const std::string id = target.id;
    if (auto refusal = store.upsert(std::move(target))) {
        quibLog().error("settings: no new target: ", pub(*refusal));
        return std::nullopt;
    }
    return id;
}

void SettingsActions::remove(const std::set<std::string>& ids) { config_.store->remove(ids); }

void SettingsActions::move(const std::set<std::size_t>& sources, std::size_t destination) {
    auto& store = *config_.store;
    store.targets().set(applyMove(store.targets().value(), sources, destination));
    store.persist();
}

void SettingsActions::appear() { config_.store->refreshTmux(); }

TargetBinding SettingsActions::binding(const QuibTarget& target) const { return TargetBinding(config_.store, target); }

bool SettingsActions::open(const std::optional<std::string>& select) {
    if (!opener_) return false;
    opener_(select);
    return true;
}

}  // namespace quib
