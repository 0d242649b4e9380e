#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Freedesktop/DesktopEntries.hpp"
#include "Platform/Workspace.hpp"
#include "QuibHost/Targets/AppSeeds.hpp"
#include "QuibHost/Targets/DeliveryLog.hpp"
#include "QuibHost/Targets/TargetStoreService.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Executor.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/Published.hpp"
#include "Runtime/SerialQueue.hpp"
#include "Runtime/Settings.hpp"
#include "Runtime/SettingsTable.hpp"
#include "Shared/AppRanking.hpp"

namespace quib {

// The user's delivery targets: which apps, tmux panes and the frontmost-app target exist, in
// which order, which one is active, which tmux targets point at no live pane, and which targets
// the host offers without saving them (provisional ones).
//
// The list is loaded from the settings at creation and written back after every change (once
// for a batch). A list that cannot be written stays as changed, is marked unsaved and is written
// again every `retryInterval` until it is; `saveFailure` says why meanwhile. Its published state
// changes on the main executor only; readers on other threads use copies kept under one snapshot
// lock, which is held only while copying.
//
// Whoever adds or edits a target (a phone, the control tool, the settings window) meets the same
// limits, so that the list stays one that phones can be sent and the settings can hold: a name
// of at most `longestName` characters, every other text of at most `longestField` bytes, at most
// `mostTargets` targets, and a stored list of at most `largestList` bytes. A list stored before
// these limits is loaded whole; it only takes no more targets.
class TargetStore final : public TargetStoreService, public std::enable_shared_from_this<TargetStore> {
public:
    // The saved list: bytes holding its one-line JSON and a line feed.
    static constexpr auto defaultsKey = setting<"quib.targets.v1">;
    // The active target's id, as a string; removed when no target is active.
    static constexpr auto activeKey = setting<"quib.activeTarget.v1">;
    // True once start-up pane seeding has been evaluated with tmux available.
    static constexpr auto seededPanesKey = setting<"quib.seededPanes.v1">;

    struct Config {
        std::shared_ptr<Executor> main;
        std::shared_ptr<Settings> settings;
        std::shared_ptr<Clock> clock;
        // Its folder receives the backup of an undecodable saved list.
        std::shared_ptr<DeliveryLog> log;
        // Where the tmux program is looked for.
        Tmux tmux = Tmux();
        // Which apps are installed; none: the desktop's standard application folders.
        std::shared_ptr<DesktopEntries> apps = nullptr;
        // Where start-up seeding takes the first app targets from; none: no app targets.
        std::shared_ptr<AppSeeds> seeds = nullptr;
        // Which apps run, for provisional app targets (required).
        std::shared_ptr<Workspace> workspace = nullptr;
    };

    static constexpr std::size_t longestName = 200;    // characters
    static constexpr std::size_t longestField = 4096;  // bytes
    static constexpr std::size_t mostTargets = 500;
    static constexpr std::size_t largestList = 4 << 20;  // bytes of the stored list's JSON
    static constexpr std::chrono::seconds retryInterval{30};

    // How many app targets a first run starts with, at most.
    static constexpr std::size_t seededAppLimit = 5;
    // How many agent panes are seeded, or offered provisionally, at most.
    static constexpr std::size_t agentPaneLimit = 12;
    // How many running apps are offered provisionally, at most.
    static constexpr std::size_t provisionalAppLimit = 3;

    // A running app that may be offered as a provisional target.
    struct AppCandidate {
        std::string name;      // the name its desktop entry gives, in the user's language
        std::string bundleID;  // as the workspace reports it
        // The well-known app it stands for, when it is the installed app chosen for that one.
        const AppRanking::Known* curated = nullptr;
        bool operator==(const AppCandidate&) const = default;
    };

    // What creation hands to start-up seeding.
    struct Seeding {
        bool firstRun = false;   // nothing usable was stored
        bool seedPanes = false;  // agent panes should be offered as new targets
        bool operator==(const Seeding&) const = default;
    };

    // Loads the saved list and the active id, stores the list back (an undecodable one is first
    // copied to a backup file beside the delivery log, or failing that kept in the settings
    // under "quib.targets.v1.unreadable") and decides on start-up seeding.
    static std::shared_ptr<TargetStore> create(Config config);
    TargetStore(const TargetStore&) = delete;
    TargetStore& operator=(const TargetStore&) = delete;

    Published<std::vector<QuibTarget>>& targets() override { return targets_; }
    Published<std::vector<QuibTarget>>& provisionalTargets() override { return provisionalTargets_; }
    Published<std::optional<std::string>>& activeTargetID() override { return activeTargetID_; }
    Published<std::set<std::string>>& unresolvedTargetIDs() override { return unresolvedTargetIDs_; }

    Snapshot snapshot() const override;
    std::optional<std::string> activeSnapshot() const override;
    std::set<std::string> unresolvedSnapshot() const override;
    std::optional<QuibTarget> safeTarget(const std::string& id) override;
    std::optional<QuibTarget> safeActiveTarget() override;

    void setActive(std::optional<std::string> id) override;
    std::optional<QuibTarget> target(const std::optional<std::string>& id) const override;
    void remove(const std::set<std::string>& ids) override;
    void setOrder(const std::vector<std::string>& ids) override;
    void setPinnedWindow(std::optional<std::uint32_t> windowID, std::optional<std::string> title,
                         const std::string& id) override;
    void refreshProvisional() override;
    AddOutcome add(QuibTarget target) override;
    std::vector<AddOutcome> addAll(std::vector<QuibTarget> targets) override;
    AddOutcome update(QuibTarget target) override;
    std::optional<std::string> saveFailure() const override { return saveFailure_; }
    // With `seeding`, agent panes also become new targets in front of the list; with
    // `promoteActive` as well, the first of them becomes the active target.
    void reconcile(const std::vector<Tmux::Pane>& panes, bool seeding, bool promoteActive,
                   bool evaluatedSeeding) override;
    void refreshTmux() override;

    // Main executor. Why the target may not be stored beside the saved targets other than the
    // one with id `excluding` (the target being edited), or none when it may.
    std::optional<std::string> validate(const QuibTarget& target, const std::optional<std::string>& excluding) const;

    // Main executor. Replaces the saved target with the same id in place, or appends it, checked
    // only against the limits: why it was refused, or none when it is stored.
    std::optional<std::string> upsert(QuibTarget target) override;
    // Main executor. Refreshes the snapshots and stores the list (never the active id). The
    // settings window calls it after reordering `targets` itself. A list that cannot be written
    // is written again later (see saveFailure).
    void persist() override;
    // Main executor. Saves the provisional target with this id under the same id; the saved
    // target, or none when the id is neither saved nor provisional or the list has no room.
    std::optional<QuibTarget> promote(const std::string& id);
    // Main executor. Publishes a new list of provisional targets and its snapshot, unless it
    // equals the current one (observers are then not woken).
    void publishProvisional(std::vector<QuibTarget> provisional);
    // Main executor. Offers the agent panes and the running apps that no saved target covers:
    // up to twelve panes in listing order, then up to three apps, well-known ones first.
    void applyProvisional(const std::vector<Tmux::Pane>& panes, const std::vector<AppCandidate>& apps);
    // Main executor. A list that is still empty becomes these app targets, each with its
    // product's profile (AppIdentity::withGuessedProfile), followed by a target for the frontmost
    // app; when no target is active, the first one becomes active.
    void seed(std::vector<QuibTarget> apps);

    // New targets for the agent panes among `panes` (at most twelve, in listing order), each
    // named "command (session)", or "command (session:window.pane)" when another seeded pane
    // would have the same name. Any thread.
    static std::vector<QuibTarget> seedPaneTargets(const std::vector<Tmux::Pane>& panes);
    // The symbol of a pane running this command: the agent's own, else a terminal.
    static std::string paneSymbol(std::string_view command);
    // The running apps worth offering, in the workspace's order: those with an installed desktop
    // entry that shows in menus and has a name, other than the host itself. Any thread; blocks
    // on the desktop entries.
    static std::vector<AppCandidate> runningAppCandidates(Workspace& workspace, const DesktopEntries& apps);

    // What creation decided about start-up seeding.
    const Seeding& startupSeeding() const { return seeding_; }
    // Runs the slow tmux and app queries; work queued here holds the store weakly.
    SerialQueue& tmuxQueue() override { return *tmuxQueue_; }
    bool tmuxAvailable() const override { return config_.tmux.isAvailable(); }
    std::optional<std::vector<Tmux::Pane>> listPanes() const override;
    QuibTarget resolvingPane(QuibTarget target) const override;

private:
    struct Passkey {};

public:
    TargetStore(Passkey, Config config, std::vector<QuibTarget> targets, std::optional<std::string> active);

private:
    struct Loaded {
        std::vector<QuibTarget> targets;
        bool decoded = true;
    };
    static Loaded load(const Config& config);
    static void setUndecodableAside(const Config& config, const Bytes& data, const std::string& reason);
    static std::optional<std::filesystem::path> backUp(const Config& config, const Bytes& data);
    Seeding decideSeeding(bool firstRun) const;
    void beginStartupSeeding();
    // Rewrites pane addresses in `list` to the identifiers of `panes`; the ids of the tmux
    // targets that name no listed pane.
    static std::set<std::string> resolvePanes(std::vector<QuibTarget>& list, const std::vector<Tmux::Pane>& panes,
                                              bool& rewritten);
    static QuibTarget focusedTarget();
    static QuibTarget provisionalPane(const Tmux::Pane& pane);
    static QuibTarget provisionalApp(const AppCandidate& app);
    // "command (session)", the session being the first piece of the pane's address.
    static std::string shortPaneName(const Tmux::Pane& pane);
    static bool runsAgent(const Tmux::Pane& pane);
    void setTargets(std::vector<QuibTarget> targets);
    void retryLater();
    // What a target is checked against: the list without the target being edited.
    class Checks;
    Checks checksExcluding(const std::optional<std::string>& id) const;

    Config config_;
    Published<std::vector<QuibTarget>> targets_;
    Published<std::optional<std::string>> activeTargetID_;
    Published<std::set<std::string>> unresolvedTargetIDs_;
    Published<std::vector<QuibTarget>> provisionalTargets_;

    mutable Mutex snapshotLock_;
    std::vector<QuibTarget> targetsSnapshot_ GUARDED_BY(snapshotLock_);
    std::set<std::string> unresolvedSnapshot_ GUARDED_BY(snapshotLock_);
    std::optional<std::string> activeSnapshot_ GUARDED_BY(snapshotLock_);
    std::vector<QuibTarget> provisionalSnapshot_ GUARDED_BY(snapshotLock_);

    Seeding seeding_;
    std::size_t listBytes_ = 0;               // the stored list's JSON as last encoded
    std::optional<std::string> saveFailure_;  // main executor
    bool retryScheduled_ = false;             // main executor
    std::unique_ptr<SerialQueue> tmuxQueue_;
};

}  // namespace quib
