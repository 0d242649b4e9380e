#include "QuibHost/Apps/AppCatalog.hpp"
#include "Runtime/Required.hpp"

#include <set>

#include <algorithm>

#include "Platform/Freedesktop/AppIdentity.hpp"
#include "Platform/Freedesktop/DesktopEntries.hpp"
#include "Runtime/AsciiText.hpp"
#include "Runtime/SecureRandom.hpp"
#include "Runtime/UnicodeText.hpp"

namespace quib {
namespace {

// Orders rows best first: by score, then by name as the user's language sorts names, ignoring
// letter case; rows equal on both keep their order.
template <class Row, class NameOf>
void rank(std::vector<Row>& rows, NameOf nameOf) {
    std::ranges::stable_sort(rows, [&](const Row& a, const Row& b) {
        if (a.score != b.score) return a.score > b.score;
        return unicode::compareLocalizedIgnoringCase(nameOf(a), nameOf(b)) < 0;
    });
}

template <class Row>
void keepFirst(std::vector<Row>& rows, std::size_t limit) {
    if (rows.size() > limit) rows.resize(limit);
}

std::optional<std::int64_t> epochMillis(const std::optional<WallTime>& date) {
    if (!date) return std::nullopt;
    return std::chrono::duration_cast<std::chrono::milliseconds>(date->time_since_epoch()).count();
}

}  // namespace

AppCatalog::AppCatalog(Config config) : config_(std::move(config)) {
    if (!config_.clock) config_.clock = SystemClock::shared();
    if (!config_.apps) config_.apps = std::make_shared<DesktopEntries>();
    config_.workspace = required(config_.workspace, "AppCatalog", "workspace");
    if (!config_.iconTheme) config_.iconTheme = IconTheme::standard();
}

std::vector<AppCatalog::Installed> AppCatalog::scan(bool refresh) {
    if (!refresh) {
        MutexLock lock(mutex_);
        if (!scanned_.empty() && scannedAt_ && config_.clock->now() - *scannedAt_ < scanLifetime) return scanned_;
    }
    auto found = installedApps();
    MutexLock lock(mutex_);
    scanned_ = found;
    scannedAt_ = config_.clock->now();
    return found;
}

// The first file of a desktop ID decides, whatever it says: a user's copy that hides an app
// or keeps it out of menus hides the system's copy too.
std::vector<AppCatalog::Installed> AppCatalog::installedApps() const {
    const auto installed = config_.apps->installed();
    const std::string locale = DesktopEntry::messagesLocale();
    std::vector<Installed> found;
    std::set<std::string, std::less<>> seen;
    for (const auto& entry : config_.apps->listed()) {
        if (!seen.insert(ascii::lowered(entry.id)).second) continue;
        if (auto app = describe(entry, *config_.apps, installed, locale)) found.push_back(std::move(*app));
    }
    return found;
}

// Apps that run only inside a terminal have no window of their own to bring forward.
std::optional<AppCatalog::Installed> AppCatalog::describe(const DesktopEntry& entry, const InstalledApps& apps,
                                                          std::span<const DesktopEntry> installed,
                                                          std::string_view locale) {
    if (entry.id.empty() || entry.id == AppIdentity::hostDesktopID) return std::nullopt;
    if (!apps.isInstalled(entry) || entry.noDisplay || entry.terminal) return std::nullopt;
    return Installed{entry, entry.id, displayName(entry, installed, locale)};
}

std::string AppCatalog::displayName(const DesktopEntry& entry, std::span<const DesktopEntry> installed,
                                    std::string_view locale) {
    if (const auto* curated = AppIdentity::knownApp(entry.id, installed)) return curated->name;
    if (auto name = entry.localizedName(locale); !name.empty()) return name;
    return entry.file.stem().string();
}

std::set<std::string> AppCatalog::runningBundleIDs() const {
    std::set<std::string> ids;
    for (const auto& app : config_.workspace->runningApps())
        if (app.bundleID) ids.insert(ascii::lowered(*app.bundleID));
    return ids;
}

std::set<std::string> AppCatalog::dockedBundleIDs() const {
    std::set<std::string> ids;
    if (config_.dock)
        for (const auto& id : config_.dock->dockedIDs()) ids.insert(ascii::lowered(id));
    return ids;
}

// Drawing happens outside the lock: two callers that miss together both draw, and the later
// store wins.
std::optional<Bytes> AppCatalog::icon(const DesktopEntry& entry, const std::string& bundleID) {
    std::string key = ascii::lowered(bundleID);
    {
        MutexLock lock(mutex_);
        if (const auto cached = icons_.find(key); cached != icons_.end()) return cached->second;
    }
    auto drawn = render(entry);
    if (!drawn) return std::nullopt;
    MutexLock lock(mutex_);
    icons_.insert_or_assign(std::move(key), *drawn);
    return drawn;
}

std::optional<Bytes> AppCatalog::render(const DesktopEntry& entry) const {
    if (!config_.iconRenderer) return std::nullopt;
    const auto file = config_.iconTheme->find(entry.icon);
    if (!file) return std::nullopt;
    return config_.iconRenderer->render(*file);
}

AppCatalog::Pass AppCatalog::beginPass() const {
    return Pass{runningBundleIDs(), dockedBundleIDs(), config_.usage ? config_.usage->uses() : AppUsage::Table{},
                config_.clock->wallNow()};
}

AppUsage::Use AppCatalog::Pass::use(const std::string& key) const {
    const auto found = uses.find(key);
    return found == uses.end() ? AppUsage::Use{} : found->second;
}

double AppCatalog::Pass::score(const std::string& key, const AppUsage::Use& use, bool curated) const {
    return AppRanking::score(use.count, use.lastUsed, running.contains(key), docked.contains(key), curated, now);
}

std::vector<MacApp> AppCatalog::suggestions(bool refresh, const std::set<std::string>& alreadyTargeted,
                                            std::size_t limit) {
    const auto apps = scan(refresh);
    const Pass pass = beginPass();
    const auto installed = config_.apps->installed();
    struct Row {
        const Installed* app;
        std::string key;
        const AppRanking::Known* curated;
        AppUsage::Use use;
        double score;
    };
    std::vector<Row> rows;
    rows.reserve(apps.size());
    for (const auto& app : apps) {
        std::string key = ascii::lowered(app.bundleID);
        const auto* curated = AppIdentity::knownApp(app.bundleID, installed);
        const auto use = pass.use(key);
        const double score = pass.score(key, use, curated != nullptr);
        rows.push_back(Row{&app, std::move(key), curated, use, score});
    }
    rank(rows, [](const Row& row) -> const std::string& { return row.app->name; });
    keepFirst(rows, limit);

    std::set<std::string> targeted;
    for (const auto& id : alreadyTargeted) targeted.insert(ascii::lowered(id));
    std::vector<MacApp> out;
    out.reserve(rows.size());
    for (const Row& row : rows) {
        MacApp app;
        app.bundleID = row.app->bundleID;
        app.name = row.app->name;
        app.icon = icon(row.app->entry, row.app->bundleID);
        app.symbol = row.curated ? row.curated->symbol : "app";
        app.isRunning = pass.running.contains(row.key);
        app.isAdded = targeted.contains(row.key);
        app.useCount = row.use.count;
        app.lastUsedEpochMillis = epochMillis(row.use.lastUsed);
        out.push_back(std::move(app));
    }
    return out;
}

// Each identifier is answered once, and only the first `mostIcons` different ones are looked
// at: a long request of repeats would otherwise be answered with as many copies of one icon.
void AppCatalog::icons(const std::vector<std::string>& bundleIDs, const IconTaker& take) {
    const auto installed = config_.apps->installed();
    const std::string locale = DesktopEntry::messagesLocale();
    std::set<std::string_view> asked;
    for (const auto& bundleID : bundleIDs) {
        if (asked.size() >= mostIcons) break;
        if (!asked.insert(bundleID).second) continue;
        const auto entry = DesktopEntries::find(installed, bundleID);
        if (!entry) continue;
        auto png = icon(*entry, bundleID);
        if (!png) continue;
        MacApp app;
        app.bundleID = bundleID;
        app.name = displayName(*entry, installed, locale);
        app.icon = std::move(png);
        if (const auto* curated = AppIdentity::knownApp(entry->id, installed)) app.symbol = curated->symbol;
        if (!take(std::move(app))) return;
    }
}

// Seeds look only at the curated apps the workspace can launch, whatever the walk's rules say.
std::vector<QuibTarget> AppCatalog::seeds(std::size_t limit) {
    const Pass pass = beginPass();
    const auto installed = config_.apps->installed();
    struct Row {
        QuibTarget target;
        double score;
    };
    std::vector<Row> rows;
    for (const auto& curated : AppRanking::curated()) {
        const auto entry = AppIdentity::installedEntry(curated, installed);
        if (!entry) continue;
        const std::string key = ascii::lowered(entry->id);
        QuibTarget target;
        target.id = newUuidString();
        target.name = curated.name;
        target.kind = QuibTarget::Kind::app;
        target.bundleID = entry->id;
        target.submitOnSend = true;
        target.allowAutoSubmit = true;
        target.symbol = curated.symbol;
        rows.push_back(Row{std::move(target), pass.score(key, pass.use(key), true)});
    }
    rank(rows, [](const Row& row) -> const std::string& { return row.target.name; });
    keepFirst(rows, limit);
    std::vector<QuibTarget> targets;
    for (auto& row : rows) targets.push_back(std::move(row.target));
    return targets;
}

}  // namespace quib
