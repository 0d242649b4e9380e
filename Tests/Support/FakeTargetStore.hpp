#pragma once

#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "QuibHost/Targets/TargetStoreService.hpp"
#include "Runtime/SerialQueue.hpp"

namespace quib::testing {

// Targets the test sets; the snapshots follow at once. Changes a phone asks for are recorded;
// additions and edits are accepted unless the test queues refusals.
// A neighbour of the server for tests; its state is under a lock of its own, since the server calls
// it from the network queue and the main loop.
class FakeTargetStore final : public TargetStoreService {
public:
    explicit FakeTargetStore(std::shared_ptr<Executor> main)
        : targets_(main, {}), provisional_(main, {}), active_(main, std::nullopt), unresolved_(main, {}) {}

    Published<std::vector<QuibTarget>>& targets() override { return targets_; }
    Published<std::vector<QuibTarget>>& provisionalTargets() override { return provisional_; }
    Published<std::optional<std::string>>& activeTargetID() override { return active_; }
    Published<std::set<std::string>>& unresolvedTargetIDs() override { return unresolved_; }

    Snapshot snapshot() const override {
        std::lock_guard lock(mutex_);
        return snapshot_;
    }
    std::optional<std::string> activeSnapshot() const override {
        std::lock_guard lock(mutex_);
        return active;
    }
    std::set<std::string> unresolvedSnapshot() const override {
        std::lock_guard lock(mutex_);
        return unresolved;
    }
    // Saved targets first, then provisional ones, as they are (nothing is adopted).
    std::optional<QuibTarget> safeTarget(const std::string& id) override {
        std::lock_guard lock(mutex_);
        for (const auto* list : {&snapshot_.saved, &snapshot_.provisional}) {
            for (const auto& target : *list)
                if (target.id == id) return target;
        }
        return std::nullopt;
    }
    std::optional<QuibTarget> safeActiveTarget() override {
        std::lock_guard lock(mutex_);
        for (const auto& target : snapshot_.saved)
            if (target.id == active) return target;
        return std::nullopt;
    }
    // Remembered in call order; the snapshot does not follow.
    void setActive(std::optional<std::string> id) override {
        std::lock_guard lock(mutex_);
        activations_.push_back(std::move(id));
    }
    std::vector<std::optional<std::string>> activations() const {
        std::lock_guard lock(mutex_);
        return activations_;
    }
    std::optional<QuibTarget> target(const std::optional<std::string>& id) const override {
        std::lock_guard lock(mutex_);
        for (const auto& t : snapshot_.saved)
            if (t.id == id) return t;
        return std::nullopt;
    }
    // Recorded; the published list does not follow.
    std::optional<std::string> upsert(QuibTarget t) override {
        record(calls.upserted, std::move(t));
        return std::nullopt;
    }
    void persist() override {
        std::lock_guard lock(mutex_);
        ++calls.persisted;
    }
    void remove(const std::set<std::string>& ids) override { record(calls.removed, ids); }
    void setOrder(const std::vector<std::string>& ids) override { record(calls.ordered, ids); }
    void setPinnedWindow(std::optional<std::uint32_t> windowID, std::optional<std::string> title,
                         const std::string& id) override {
        record(calls.pinned, Pin{windowID, std::move(title), id});
    }
    void refreshProvisional() override {}
    AddOutcome add(QuibTarget t) override { return answer(calls.added, std::move(t)); }
    std::vector<AddOutcome> addAll(std::vector<QuibTarget> targets) override {
        std::vector<AddOutcome> outcomes;
        for (auto& t : targets) outcomes.push_back(answer(calls.added, std::move(t)));
        std::lock_guard lock(mutex_);
        ++calls.batches;
        return outcomes;
    }
    AddOutcome update(QuibTarget t) override { return answer(calls.updated, std::move(t)); }
    std::optional<std::string> saveFailure() const override {
        std::lock_guard lock(mutex_);
        return saveFailure_;
    }
    // From now on every change counts as not saved, for this reason (none: saved again).
    void failSaves(std::optional<std::string> reason) {
        std::lock_guard lock(mutex_);
        saveFailure_ = std::move(reason);
    }
    void reconcile(const std::vector<Tmux::Pane>& panes, bool, bool, bool) override { record(calls.reconciled, panes); }
    void refreshTmux() override {}
    SerialQueue& tmuxQueue() override { return tmuxQueue_; }
    bool tmuxAvailable() const override { return tmux.isAvailable(); }
    std::optional<std::vector<Tmux::Pane>> listPanes() const override {
        if (!tmux.isAvailable()) return std::nullopt;
        return tmux.listPanes();
    }
    QuibTarget resolvingPane(QuibTarget target) const override { return resolvedPane(std::move(target), tmux); }

    // Where the tmux program is looked for (set before the server runs).
    Tmux tmux = Tmux();

    // A window a target was pinned to; none: unpinned.
    struct Pin {
        std::optional<std::uint32_t> windowID;
        std::optional<std::string> title;
        std::string targetID;
        bool operator==(const Pin&) const = default;
    };
    // What the server asked of the store, in order.
    struct Calls {
        std::vector<Pin> pinned;
        std::vector<QuibTarget> added;
        std::vector<QuibTarget> updated;
        std::vector<QuibTarget> upserted;
        std::size_t persisted = 0;
        std::vector<std::set<std::string>> removed;
        std::vector<std::vector<std::string>> ordered;
        std::vector<std::vector<Tmux::Pane>> reconciled;
        std::size_t batches = 0;  // calls of addAll
    };
    Calls recorded() const {
        std::lock_guard lock(mutex_);
        return calls;
    }
    // The next additions or edits are refused with these texts, one each.
    void refuseNext(std::vector<std::string> reasons) {
        std::lock_guard lock(mutex_);
        refusals_.insert(refusals_.end(), reasons.begin(), reasons.end());
    }

    void setSnapshot(Snapshot snapshot, std::optional<std::string> activeID = std::nullopt,
                     std::set<std::string> unresolvedIDs = {}) {
        std::lock_guard lock(mutex_);
        snapshot_ = std::move(snapshot);
        active = std::move(activeID);
        unresolved = std::move(unresolvedIDs);
    }

private:
    template <class T>
    void record(std::vector<T>& list, T value) {
        std::lock_guard lock(mutex_);
        list.push_back(std::move(value));
    }
    AddOutcome answer(std::vector<QuibTarget>& list, QuibTarget t) {
        std::lock_guard lock(mutex_);
        list.push_back(t);
        if (refusals_.empty()) return AddOutcome::added(std::move(t));
        auto reason = std::move(refusals_.front());
        refusals_.erase(refusals_.begin());
        return AddOutcome::refused(std::move(reason));
    }

    mutable std::mutex mutex_;
    Calls calls;
    std::vector<std::string> refusals_;
    std::optional<std::string> saveFailure_;
    Snapshot snapshot_;
    std::optional<std::string> active;
    std::set<std::string> unresolved;
    std::vector<std::optional<std::string>> activations_;
    Published<std::vector<QuibTarget>> targets_;
    Published<std::vector<QuibTarget>> provisional_;
    Published<std::optional<std::string>> active_;
    Published<std::set<std::string>> unresolved_;
    SerialQueue tmuxQueue_{"fake target store tmux"};
};

}  // namespace quib::testing
