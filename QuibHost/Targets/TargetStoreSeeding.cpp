// The target store's first contents and its tmux reconciliation: the app targets, the target for
// the frontmost app and the agent panes of a first start, and the rewriting of pane addresses
// into identifiers whenever panes are listed.

#include <map>

#include "Platform/Freedesktop/AppIdentity.hpp"
#include "QuibHost/Targets/TargetStore.hpp"
#include "Runtime/AssertOn.hpp"
#include "Runtime/SecureRandom.hpp"
#include "Shared/ShortcutProfiles.hpp"

namespace quib {

// The slow queries run on the tmux queue without holding the store, so that the store may go
// meanwhile; their results are applied on the main executor, when the store is still there.
// Without tmux nothing is reconciled and the seeding flag stays unset, so pane seeding is
// decided again at the next start.
void TargetStore::beginStartupSeeding() {
    tmuxQueue_->post(
        [weak = weak_from_this(), main = config_.main, tmux = config_.tmux, seeds = config_.seeds, seeding = seeding_] {
            auto apps = seeding.firstRun && seeds ? seeds->seeds(seededAppLimit) : std::vector<QuibTarget>{};
            const bool available = tmux.isAvailable();
            auto panes = available ? tmux.listPanes() : std::vector<Tmux::Pane>{};
            main->post([weak, apps = std::move(apps), available, panes = std::move(panes), seeding] {
                const auto store = weak.lock();
                if (!store) return;
                store->seed(apps);
                if (available) store->reconcile(panes, seeding.seedPanes, seeding.firstRun, true);
            });
        });
}

// A list that gained targets meanwhile (a phone added one) is left alone.
void TargetStore::seed(std::vector<QuibTarget> apps) {
    assertOn(*config_.main);
    if (!targets_.value().empty()) return;
    for (auto& app : apps) app = AppIdentity::withGuessedProfile(std::move(app));
    apps.push_back(focusedTarget());
    const std::string first = apps.front().id;
    targets_.set(std::move(apps));
    if (!activeTargetID_.value()) setActive(first);
    persist();
}

QuibTarget TargetStore::focusedTarget() {
    QuibTarget target;
    target.id = newUuidString();
    target.name = "Focused";
    target.kind = QuibTarget::Kind::frontmost;
    target.submitOnSend = false;
    target.allowAutoSubmit = true;
    target.symbol = "cursorarrow.rays";
    return target;
}

// Seeded targets are put in front without comparing them with the saved ones: seeding happens
// only when no saved target points at a pane yet.
void TargetStore::reconcile(const std::vector<Tmux::Pane>& panes, bool seeding, bool promoteActive,
                            bool evaluatedSeeding) {
    assertOn(*config_.main);
    auto list = targets_.value();
    bool changed = false;
    auto unresolved = resolvePanes(list, panes, changed);
    const auto seeded = seeding && !panes.empty() ? seedPaneTargets(panes) : std::vector<QuibTarget>{};
    if (!seeded.empty()) {
        list.insert(list.begin(), seeded.begin(), seeded.end());
        changed = true;
    }
    if (changed) targets_.set(std::move(list));
    unresolvedTargetIDs_.set(std::move(unresolved));
    if (promoteActive && !seeded.empty()) setActive(seeded.front().id);
    if (evaluatedSeeding) (void)config_.settings->setBool(seededPanesKey, true);  // a failure is logged there
    persist();
}

// Identifiers are never rewritten, so a target whose pane has gone keeps its identifier and
// shows as unresolved until the user picks a pane again; an empty listing leaves every tmux
// target unresolved.
std::set<std::string> TargetStore::resolvePanes(std::vector<QuibTarget>& list, const std::vector<Tmux::Pane>& panes,
                                                bool& rewritten) {
    std::map<std::string, std::string> idByAddress;
    std::set<std::string> live;
    for (const auto& pane : panes) {
        idByAddress.insert_or_assign(pane.spec, pane.id);
        live.insert(pane.id);
    }
    std::set<std::string> unresolved;
    for (auto& target : list) {
        if (target.kind != QuibTarget::Kind::tmux) continue;
        const std::string pane = target.tmuxTarget.value_or("");
        if (pane.starts_with('%') && live.contains(pane)) continue;
        const auto address = pane.starts_with('%') ? idByAddress.end() : idByAddress.find(pane);
        if (pane.empty() || address == idByAddress.end()) {
            unresolved.insert(target.id);
            continue;
        }
        target.tmuxTarget = address->second;
        rewritten = true;
    }
    return unresolved;
}

std::optional<std::vector<Tmux::Pane>> TargetStore::listPanes() const {
    if (!config_.tmux.isAvailable()) return std::nullopt;
    return config_.tmux.listPanes();
}

QuibTarget TargetStore::resolvingPane(QuibTarget target) const { return resolvedPane(std::move(target), config_.tmux); }

void TargetStore::refreshTmux() {
    tmuxQueue_->post([weak = weak_from_this(), tmux = config_.tmux, main = config_.main] {
        if (!tmux.isAvailable()) return;
        main->post([weak, panes = tmux.listPanes()] {
            if (auto store = weak.lock()) store->reconcile(panes, false, false, false);
        });
    });
}

std::vector<QuibTarget> TargetStore::seedPaneTargets(const std::vector<Tmux::Pane>& panes) {
    std::vector<const Tmux::Pane*> agents;
    for (const auto& pane : panes) {
        if (agents.size() == agentPaneLimit) break;
        if (runsAgent(pane)) agents.push_back(&pane);
    }
    std::map<std::string, int> sharing;
    for (const auto* pane : agents) ++sharing[shortPaneName(*pane)];
    std::vector<QuibTarget> seeded;
    for (const auto* pane : agents) {
        const std::string name = shortPaneName(*pane);
        QuibTarget target;
        target.id = newUuidString();
        target.name = sharing[name] > 1 ? pane->command + " (" + pane->spec + ")" : name;
        target.kind = QuibTarget::Kind::tmux;
        target.tmuxTarget = pane->id;
        target.submitOnSend = true;
        target.allowAutoSubmit = true;
        target.symbol = paneSymbol(pane->command);
        seeded.push_back(std::move(target));
    }
    return seeded;
}

std::string TargetStore::paneSymbol(std::string_view command) {
    const auto& profile = ShortcutProfiles::guessForCommand(command);
    if (profile.id == ShortcutProfiles::claudeCode().id) return "sparkle";
    if (profile.id == ShortcutProfiles::codex().id) return "chevron.left.forwardslash.chevron.right";
    return "terminal";
}

// The session is the first non-empty piece of the address before a ":", or the whole address
// when it has none.
std::string TargetStore::shortPaneName(const Tmux::Pane& pane) {
    std::string_view rest = pane.spec;
    std::string_view session = pane.spec;
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        const auto piece = rest.substr(0, colon);
        if (!piece.empty()) {
            session = piece;
            break;
        }
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
    return pane.command + " (" + std::string(session) + ")";
}

// Only programs of an agent's pane profile count; shells and every other program do not.
bool TargetStore::runsAgent(const Tmux::Pane& pane) {
    return ShortcutProfiles::guessForCommand(pane.command).id != ShortcutProfiles::shell().id;
}

}  // namespace quib
