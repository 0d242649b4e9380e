#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "Platform/Tmux/Tmux.hpp"
#include "Runtime/Published.hpp"
#include "Runtime/SerialQueue.hpp"
#include "Shared/QuibTarget.hpp"

namespace quib {

// The target store as the connection server and the control tool use it: the published lists
// they watch, the lock-guarded snapshots that readers off the main executor use, and the
// operations that change the list on behalf of a phone or the panel.
class TargetStoreService {
public:
    virtual ~TargetStoreService() = default;

    // What adding or editing a target for a phone gave: the target exactly as stored, or why
    // it was refused (a sentence for the user, without a final full stop).
    struct AddOutcome {
        std::variant<QuibTarget, std::string> value;

        static AddOutcome added(QuibTarget target) { return {std::move(target)}; }
        static AddOutcome refused(std::string reason) { return {std::move(reason)}; }
        const QuibTarget* target() const { return std::get_if<QuibTarget>(&value); }
        const std::string* refusal() const { return std::get_if<std::string>(&value); }
        bool operator==(const AddOutcome&) const = default;
    };

    // Main executor: each announces every new value to its subscribers.
    virtual Published<std::vector<QuibTarget>>& targets() = 0;
    virtual Published<std::vector<QuibTarget>>& provisionalTargets() = 0;
    virtual Published<std::optional<std::string>>& activeTargetID() = 0;
    virtual Published<std::set<std::string>>& unresolvedTargetIDs() = 0;

    // Any thread: copies taken under the store's snapshot lock.
    struct Snapshot {
        std::vector<QuibTarget> saved;
        std::vector<QuibTarget> provisional;
    };
    virtual Snapshot snapshot() const = 0;
    virtual std::optional<std::string> activeSnapshot() const = 0;
    virtual std::set<std::string> unresolvedSnapshot() const = 0;
    // The saved target, else the provisional one (adopted into the saved list), with this id.
    virtual std::optional<QuibTarget> safeTarget(const std::string& id) = 0;
    // The active target when a saved target has the active id.
    virtual std::optional<QuibTarget> safeActiveTarget() = 0;

    // Main executor only; callers elsewhere post to it first. Each change is stored at once.
    // Makes the id active (none: no target is active); the id is not checked against the list.
    virtual void setActive(std::optional<std::string> id) = 0;
    // The saved target with this id.
    virtual std::optional<QuibTarget> target(const std::optional<std::string>& id) const = 0;
    // Replaces the saved target with the same id in place, or appends it, checked only against
    // the store's limits; clears its unresolved mark. Why it was refused, or none when stored.
    virtual std::optional<std::string> upsert(QuibTarget target) = 0;
    // Stores the published list as it stands, after `targets()` was set directly.
    virtual void persist() = 0;
    // Deletes these saved targets; when the active one goes, the first remaining one takes over.
    virtual void remove(const std::set<std::string>& ids) = 0;
    // Puts the named saved targets first, in this order, and the rest behind them as they were.
    virtual void setOrder(const std::vector<std::string>& ids) = 0;
    // Pins a window of the saved target, or with no window clears the pin and its title.
    virtual void setPinnedWindow(std::optional<std::uint32_t> windowID, std::optional<std::string> title,
                                 const std::string& id) = 0;
    // Recomputes the targets the host proposes.
    virtual void refreshProvisional() = 0;

    // A target from a phone, its name trimmed, appended when it passes the checks: the store's
    // limits on texts, count and size; a name no other saved target has (ignoring case); for an
    // app, an installed app's bundle identifier; for a tmux pane, a pane identifier no other tmux
    // target holds. A frontmost target cannot be added this way. An app target without a profile
    // stores its product's (see AppIdentity::withGuessedProfile). A refusal changes nothing.
    virtual AddOutcome add(QuibTarget target) = 0;
    // Several targets from one request, each checked as `add` would, against the list as the ones
    // before it left it; the list is stored once. The outcomes are in the targets' order.
    virtual std::vector<AddOutcome> addAll(std::vector<QuibTarget> targets) = 0;
    // The same checks for a saved target's new version, which keeps its kind.
    virtual AddOutcome update(QuibTarget target) = 0;
    // Main executor: why the list in memory is not saved (the last write failed and is being
    // tried again), or none when it is. Read right after a change, it tells whether that change
    // reached the disk.
    virtual std::optional<std::string> saveFailure() const = 0;
    // Given the complete pane listing: tmux targets holding a pane address that a listed pane
    // has now hold that pane's identifier, and the tmux targets that name no listed pane become
    // the unresolved ones. With `evaluatedSeeding`, records that pane seeding has been decided.
    virtual void reconcile(const std::vector<Tmux::Pane>& panes, bool seeding, bool promoteActive,
                           bool evaluatedSeeding) = 0;
    // Returns at once; lists the panes on the store's tmux queue and reconciles with them on
    // the main executor. Without tmux nothing changes.
    virtual void refreshTmux() = 0;

    // The store drives tmux for everyone: its tmux queue is where panes are listed, so that a
    // listing never holds up deliveries.
    virtual SerialQueue& tmuxQueue() = 0;
    // Any thread: whether the tmux program is there.
    virtual bool tmuxAvailable() const = 0;
    // The tmux queue: the panes tmux lists, or none without tmux.
    virtual std::optional<std::vector<Tmux::Pane>> listPanes() const = 0;
    // Any thread (it runs tmux there): a tmux target whose pane tmux can name by its identifier
    // holds that identifier; any other target comes back as it was.
    virtual QuibTarget resolvingPane(QuibTarget target) const = 0;

    // `target` resolved as `resolvingPane` says, through `tmux`.
    static QuibTarget resolvedPane(QuibTarget target, const Tmux& tmux) {
        if (target.kind != QuibTarget::Kind::tmux || !target.tmuxTarget || target.tmuxTarget->empty()) return target;
        if (auto id = tmux.resolve(*target.tmuxTarget)) target.tmuxTarget = std::move(*id);
        return target;
    }
};

}  // namespace quib
