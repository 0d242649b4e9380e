// Targets the store offers without saving them: the agent panes and running apps that no saved
// target covers yet. Their ids are derived from the pane or the app, so the same pane or app
// keeps its id from one refresh to the next, and a phone's first use saves it under that id.

#include <algorithm>

#include "Platform/Freedesktop/AppIdentity.hpp"
#include "QuibHost/Targets/TargetStore.hpp"
#include "Runtime/AssertOn.hpp"
#include "Runtime/UnicodeText.hpp"

namespace quib {

// The workspace is safe on any thread, so nothing here waits for the main executor, which
// itself never waits for the tmux queue.
void TargetStore::refreshProvisional() {
    tmuxQueue_->post([weak = weak_from_this(), main = config_.main, tmux = config_.tmux, workspace = config_.workspace,
                      apps = config_.apps] {
        auto panes = tmux.isAvailable() ? tmux.listPanes() : std::vector<Tmux::Pane>{};
        auto candidates = runningAppCandidates(*workspace, *apps);
        main->post([weak, panes = std::move(panes), candidates = std::move(candidates)] {
            if (auto store = weak.lock()) store->applyProvisional(panes, candidates);
        });
    });
}

// An app counts when its windows belong to an installed app that shows in menus; one whose
// entry has no name has nothing to be offered under. Without running apps (headless) the
// application folders are not read at all.
std::vector<TargetStore::AppCandidate> TargetStore::runningAppCandidates(Workspace& workspace,
                                                                         const DesktopEntries& apps) {
    const auto running = workspace.runningApps();
    if (running.empty()) return {};
    const auto installed = apps.installed();
    const std::string locale = DesktopEntry::messagesLocale();
    const std::string own = unicode::lower(AppIdentity::hostDesktopID);
    std::vector<AppCandidate> candidates;
    for (const auto& app : running) {
        if (!app.bundleID || unicode::lower(*app.bundleID) == own) continue;
        const auto entry = DesktopEntries::find(installed, *app.bundleID);
        if (!entry || entry->noDisplay) continue;
        std::string name = entry->localizedName(locale);
        if (name.empty()) continue;
        candidates.push_back({std::move(name), *app.bundleID, AppIdentity::knownApp(*app.bundleID, installed)});
    }
    return candidates;
}

// Saved targets are matched by the pane identifier they hold and by bundle identifier in any
// letter case, whatever their kind.
void TargetStore::applyProvisional(const std::vector<Tmux::Pane>& panes, const std::vector<AppCandidate>& apps) {
    assertOn(*config_.main);
    std::set<std::string> savedPanes;
    std::set<std::string> savedApps;
    for (const auto& target : targets_.value()) {
        if (target.kind == QuibTarget::Kind::tmux && target.tmuxTarget) savedPanes.insert(*target.tmuxTarget);
        if (target.bundleID) savedApps.insert(unicode::lower(*target.bundleID));
    }
    std::vector<QuibTarget> offered;
    for (const auto& pane : panes) {
        if (offered.size() == agentPaneLimit) break;
        if (!savedPanes.contains(pane.id) && runsAgent(pane)) offered.push_back(provisionalPane(pane));
    }
    std::vector<const AppCandidate*> unsaved;
    for (const auto& app : apps)
        if (!savedApps.contains(unicode::lower(app.bundleID))) unsaved.push_back(&app);
    // The classic algorithm: the fuzzing build's clang cannot instantiate the ranges one here.
    std::stable_partition(unsaved.begin(), unsaved.end(),
                          [](const AppCandidate* app) { return app->curated != nullptr; });
    if (unsaved.size() > provisionalAppLimit) unsaved.resize(provisionalAppLimit);
    for (const auto* app : unsaved) offered.push_back(provisionalApp(*app));
    publishProvisional(std::move(offered));
}

// Unlike seeded panes, two offered panes of one program in one session share their name.
QuibTarget TargetStore::provisionalPane(const Tmux::Pane& pane) {
    QuibTarget target;
    target.id = "pane:" + pane.id;
    target.name = shortPaneName(pane);
    target.kind = QuibTarget::Kind::tmux;
    target.tmuxTarget = pane.id;
    target.submitOnSend = true;
    target.allowAutoSubmit = true;
    target.symbol = paneSymbol(pane.command);
    target.isProvisional = true;
    return target;
}

QuibTarget TargetStore::provisionalApp(const AppCandidate& app) {
    QuibTarget target;
    target.id = "app:" + unicode::lower(app.bundleID);
    target.name = app.curated ? app.curated->name : app.name;
    target.kind = QuibTarget::Kind::app;
    target.bundleID = app.bundleID;
    target.submitOnSend = true;
    target.allowAutoSubmit = true;
    target.symbol = app.curated ? app.curated->symbol : "macwindow";
    target.isProvisional = true;
    return AppIdentity::withGuessedProfile(std::move(target));
}

}  // namespace quib
