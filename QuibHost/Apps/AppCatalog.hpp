#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "Platform/AppUsage.hpp"
#include "Platform/DockedApps.hpp"
#include "Platform/Freedesktop/DesktopEntry.hpp"
#include "Platform/Freedesktop/IconTheme.hpp"
#include "Platform/Freedesktop/InstalledApps.hpp"
#include "Platform/IconRenderer.hpp"
#include "Platform/Workspace.hpp"
#include "QuibHost/Apps/AppCatalogService.hpp"
#include "QuibHost/Targets/AppSeeds.hpp"
#include "Runtime/Bytes.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Mutex.hpp"
#include "Shared/AppRanking.hpp"
#include "Shared/MacApp.hpp"

namespace quib {

// Which apps are installed, how much the user uses each, which run and which are docked, and
// from that the ranked apps the phone's app picker offers and the first app targets of a new
// target list.
//
// Apps are the application entries of the desktop's application folders, one per desktop ID
// (its letter case ignored: the first file decides, so a user's hidden copy hides the
// system's). Entries of another type, hidden, whose TryExec program is missing, kept out of
// menus, run in a terminal, or the host's own are left out. The walk is kept for two minutes;
// use counts, running and docked apps are read afresh on every request.
//
// An app's icon is drawn once per identifier (its letter case ignored) and kept for the life of
// the process, whichever copy of the app asked first; an icon that could not be drawn is tried
// again next time.
//
// Nothing fails as a whole: a fact that cannot be read is simply absent. Every operation may
// block on the disk or a subprocess, so they belong on background queues; any thread may call.
class AppCatalog final : public AppCatalogService, public AppSeeds {
public:
    // How long a walk of the application folders is served again.
    static constexpr Duration scanLifetime = std::chrono::seconds(120);

    struct Config {
        std::shared_ptr<Clock> clock = nullptr;
        // Where installed apps are found; none: the desktop's standard application folders.
        std::shared_ptr<InstalledApps> apps = nullptr;
        // Which apps run (required).
        std::shared_ptr<Workspace> workspace = nullptr;
        // How much apps were used, and which are docked; none: no use, nothing docked.
        std::shared_ptr<AppUsage> usage = nullptr;
        std::shared_ptr<DockedApps> dock = nullptr;
        // Where icon files are found; none: the desktop's icon themes.
        std::shared_ptr<IconTheme> iconTheme = nullptr;
        // Draws them; none: no app has an icon.
        std::shared_ptr<IconRenderer> iconRenderer = nullptr;
    };

    // One app the walk found.
    struct Installed {
        DesktopEntry entry;
        std::string bundleID;  // the desktop ID in its own letter case
        std::string name;
        bool operator==(const Installed&) const = default;
    };

    explicit AppCatalog(Config config);

    // At most `limit` installed apps, best first; apps whose identifier `alreadyTargeted` holds
    // (in any letter case) stay in, flagged as added. `refresh` walks the folders anew.
    std::vector<MacApp> suggestions(bool refresh, const std::set<std::string>& alreadyTargeted,
                                    std::size_t limit) override;
    // One row for each different identifier, in order, among the first `mostIcons` different
    // ones, that names an installed app (exactly, else ignoring letter case) whose icon could be
    // drawn. The row keeps the identifier as asked, with the app's name, symbol and icon; the
    // ranking fields stay empty.
    static constexpr std::size_t mostIcons = 200;
    void icons(const std::vector<std::string>& bundleIDs, const IconTaker& take) override;
    // AppSeeds: app targets for the installed well-known apps, each under the desktop ID that
    // stands for it, keeping the well-known name and symbol.
    std::vector<QuibTarget> seeds(std::size_t limit) override;

    // The installed apps in walk order: the last walk while it is younger than scanLifetime and
    // found something, unless `refresh` asks for a new one.
    std::vector<Installed> scan(bool refresh);

private:
    // What one ranking pass reads once and scores every app by.
    struct Pass {
        std::set<std::string> running;  // lower-cased desktop IDs
        std::set<std::string> docked;
        AppUsage::Table uses;
        WallTime now;

        AppUsage::Use use(const std::string& key) const;
        double score(const std::string& key, const AppUsage::Use& use, bool curated) const;
    };
    Pass beginPass() const;

    std::vector<Installed> installedApps() const;
    static std::optional<Installed> describe(const DesktopEntry& entry, const InstalledApps& apps,
                                             std::span<const DesktopEntry> installed, std::string_view locale);
    static std::string displayName(const DesktopEntry& entry, std::span<const DesktopEntry> installed,
                                   std::string_view locale);
    std::set<std::string> runningBundleIDs() const;
    std::set<std::string> dockedBundleIDs() const;
    // The app's icon as PNG bytes, drawn on the first request for its identifier; none when
    // it has none or it could not be drawn.
    std::optional<Bytes> icon(const DesktopEntry& entry, const std::string& bundleID);
    std::optional<Bytes> render(const DesktopEntry& entry) const;

    Config config_;
    Mutex mutex_;  // guards the three below, only while they are read or written
    std::map<std::string, Bytes> icons_ GUARDED_BY(mutex_);  // by lower-cased identifier
    std::vector<Installed> scanned_ GUARDED_BY(mutex_);
    std::optional<MonoTime> scannedAt_ GUARDED_BY(mutex_);
};

}  // namespace quib
