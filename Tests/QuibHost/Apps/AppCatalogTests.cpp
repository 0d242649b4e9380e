#include "QuibHost/Apps/AppCatalog.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>

#include "Platform/Freedesktop/DesktopEntries.hpp"
#include "Platform/Simulated/SimulatedDesktop.hpp"
#include "Runtime/FakeClock.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Every row the catalog draws for `bundleIDs`.
std::vector<MacApp> iconsOf(AppCatalog& catalog, const std::vector<std::string>& bundleIDs) {
    std::vector<MacApp> rows;
    catalog.icons(bundleIDs, [&](MacApp row) {
        rows.push_back(std::move(row));
        return true;
    });
    return rows;
}

// The desktop entries of the fixture's folders, counting the walks the catalog makes.
class CountingApps final : public InstalledApps {
public:
    CountingApps(std::vector<fs::path> folders, const fs::path& bin) : entries_(std::move(folders), bin.string()) {}
    std::vector<DesktopEntry> listed() const override {
        ++walks;
        return entries_.listed();
    }
    std::vector<DesktopEntry> installed() const override { return entries_.installed(); }
    bool isInstalled(const DesktopEntry& entry) const override { return entries_.isInstalled(entry); }

    mutable std::atomic<int> walks = 0;

private:
    DesktopEntries entries_;
};

class FakeUsage final : public AppUsage {
public:
    Table uses() const override { return table; }
    Table table;
};

class FakeDock final : public DockedApps {
public:
    std::set<std::string> dockedIDs() const override { return ids; }
    std::set<std::string> ids;
};

// Draws an icon as the bytes of its file's name, counting what it draws; files named in
// `broken` do not draw.
class FakeRenderer final : public IconRenderer {
public:
    std::optional<Bytes> render(const fs::path& file) const override {
        ++renders;
        if (broken.contains(file.filename().string())) return std::nullopt;
        return bytesOf(file.filename().string());
    }
    mutable std::atomic<int> renders = 0;
    std::set<std::string> broken;
};

// A user's and a system application folder of the test's own, with fake use, dock and clock and
// a simulated desktop for running apps.
class CatalogFixture {
public:
    fs::path user() const { return scratch.path / "user" / "applications"; }
    fs::path system() const { return scratch.path / "system" / "applications"; }

    // An application entry named after its file, unless `keys` (which come first, and so win)
    // say otherwise.
    void app(const std::string& relative, const std::string& keys = "") { entry(system(), relative, keys); }
    void userApp(const std::string& relative, const std::string& keys = "") { entry(user(), relative, keys); }
    void entry(const fs::path& folder, const std::string& relative, const std::string& keys) {
        write(folder / relative, "[Desktop Entry]\n" + keys +
                                     "Type=Application\nName=" + fs::path(relative).stem().string() + "\nExec=run\n");
    }
    // Writes the file, then moves the modification time of each folder above it up to the
    // application folder a second on, so that a walk sees the change however coarse the
    // file system's clock.
    void write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
        ++changes_;
        for (fs::path folder = file.parent_path(); folder.has_relative_path(); folder = folder.parent_path()) {
            fs::last_write_time(folder, stampBase_ + std::chrono::seconds(changes_));
            if (folder == user() || folder == system()) break;
        }
    }

    // An icon in the fixture's hicolor theme, at the size the catalog wants.
    void icon(const std::string& name) const { themeFile("128x128/" + name + ".png", "png"); }
    void themeFile(const std::string& relative, const std::string& text) const {
        const auto file = scratch.path / "icons" / "hicolor" / relative;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }

    AppCatalog& catalog() {
        if (!catalog_) {
            themeFile("index.theme", "[Icon Theme]\nDirectories=128x128\n[128x128]\nSize=128\nType=Fixed\n");
            auto theme = std::make_shared<IconTheme>(
                IconTheme::Config{.baseFolders = {scratch.path / "icons"},
                                  .pixmaps = scratch.path / "pixmaps",
                                  .gsettings = [](const auto&) { return Subprocess::Result{}; }});
            catalog_ = std::make_unique<AppCatalog>(AppCatalog::Config{.clock = clock,
                                                                       .apps = apps,
                                                                       .workspace = desktop,
                                                                       .usage = usage,
                                                                       .dock = dock,
                                                                       .iconTheme = std::move(theme),
                                                                       .iconRenderer = renderer});
        }
        return *catalog_;
    }
    std::vector<MacApp> suggest(std::size_t limit = 30, const std::set<std::string>& targeted = {}) {
        return catalog().suggestions(false, targeted, limit);
    }
    std::vector<std::string> suggestedIDs(std::size_t limit = 30) {
        std::vector<std::string> ids;
        for (const auto& app : suggest(limit)) ids.push_back(app.bundleID);
        return ids;
    }
    std::vector<std::string> suggestedNames() {
        std::vector<std::string> names;
        for (const auto& app : suggest()) names.push_back(app.name);
        return names;
    }

    testing::ScratchFolder scratch{"catalog"};
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<CountingApps> apps =
        std::make_shared<CountingApps>(std::vector{user(), system()}, scratch.path / "bin");
    std::shared_ptr<SimulatedDesktop> desktop = std::make_shared<SimulatedDesktop>(clock);
    std::shared_ptr<FakeUsage> usage = std::make_shared<FakeUsage>();
    std::shared_ptr<FakeDock> dock = std::make_shared<FakeDock>();
    // None: no app has an icon.
    std::shared_ptr<FakeRenderer> renderer = nullptr;

private:
    std::unique_ptr<AppCatalog> catalog_;
    fs::file_time_type stampBase_ = fs::file_time_type::clock::now();
    int changes_ = 0;
};

WallTime secondsSince1970(double seconds) {
    return WallTime(std::chrono::duration_cast<WallTime::duration>(std::chrono::duration<double>(seconds)));
}

TEST(AppCatalog, ListsEachDesktopIdOnceFromTheFirstFolder) {
    CatalogFixture fixture;
    fixture.userApp("org.example.Editor.desktop", "Name=Mine\n");
    fixture.app("org.example.Editor.desktop", "Name=System's\n");
    fixture.app("org.example.Mail.desktop");
    fixture.app("org.example.mail.desktop");
    fixture.app("tools/probe.desktop");
    fixture.app("tools/deeper/lost.desktop");
    fixture.app(".secret.desktop");
    fixture.app(".cache/cached.desktop");

    EXPECT_EQ(fixture.suggestedIDs(),
              (std::vector<std::string>{"org.example.Editor", "org.example.Mail", "tools-probe"}));
    EXPECT_EQ(fixture.suggest().front().name, "Mine");
}

TEST(AppCatalog, LeavesOutEntriesThatAreNoAppsOfTheirOwn) {
    CatalogFixture fixture;
    fixture.app("shown.desktop");
    fixture.app("menuless.desktop", "NoDisplay=true\n");
    fixture.app("deleted.desktop", "Hidden=true\n");
    fixture.app("top.desktop", "Terminal=true\n");
    fixture.app("missing.desktop", "TryExec=no-such-program\n");
    fixture.write(fixture.system() / "site.desktop",
                  "[Desktop Entry]\nType=Link\nName=Site\nURL=https://example.org\n");
    fixture.app("quib-host.desktop");
    // A user's copy that hides an app or keeps it out of menus hides the system's copy too.
    fixture.app("gone.desktop");
    fixture.userApp("gone.desktop", "Hidden=true\n");
    fixture.app("quiet.desktop");
    fixture.userApp("Quiet.desktop", "NoDisplay=true\n");

    EXPECT_EQ(fixture.suggestedIDs(), std::vector<std::string>{"shown"});
}

TEST(AppCatalog, WalksAgainOnlyWhenRefreshedStaleOrEmpty) {
    CatalogFixture fixture;
    EXPECT_TRUE(fixture.suggest().empty());
    EXPECT_EQ(fixture.apps->walks, 1);
    fixture.app("first.desktop");
    EXPECT_EQ(fixture.suggestedIDs(), std::vector<std::string>{"first"}) << "an empty walk is never served";
    EXPECT_EQ(fixture.apps->walks, 2);

    fixture.app("second.desktop");
    fixture.clock->advance(119s);
    EXPECT_EQ(fixture.suggestedIDs(), std::vector<std::string>{"first"});
    EXPECT_EQ(fixture.apps->walks, 2);
    EXPECT_EQ(fixture.catalog().suggestions(true, {}, 30).size(), 2u);
    EXPECT_EQ(fixture.apps->walks, 3);

    fixture.app("third.desktop");
    fixture.clock->advance(119s);
    EXPECT_EQ(fixture.suggest().size(), 2u);
    fixture.clock->advance(1s);
    EXPECT_EQ(fixture.suggest().size(), 3u);
    EXPECT_EQ(fixture.apps->walks, 4);
}

TEST(AppCatalog, NamesAppsByCuratedNameLocaleNameOrFileName) {
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    ::setenv("LANG", "de_DE.UTF-8", 1);
    CatalogFixture fixture;
    fixture.app("org.gnome.Terminal.desktop", "Name=GNOME Terminal\nName[de]=Terminal (GNOME)\n");
    fixture.app("org.example.Files.desktop", "Name=Files\nName[de]=Dateien\nName[fr]=Fichiers\n");
    fixture.write(fixture.system() / "nameless.desktop", "[Desktop Entry]\nType=Application\nExec=run\n");

    EXPECT_EQ(fixture.suggestedNames(), (std::vector<std::string>{"Terminal", "Dateien", "nameless"}));
}

// Unused apps rank by their bonuses: curated 3.0, running 2.5, docked 1.5. Equal scores sort by
// name ignoring case, and equal names keep the walk's order.
TEST(AppCatalog, RanksByScoreThenByNameIgnoringCase) {
    CatalogFixture fixture;
    fixture.app("a-docked.desktop");
    fixture.app("b-beta.desktop", "Name=Beta\n");
    fixture.app("c-alpha.desktop", "Name=alpha\n");
    fixture.app("d-second.desktop", "Name=Same\n");
    fixture.app("e-running.desktop");
    fixture.app("f-first.desktop", "Name=same\n");
    fixture.app("kitty.desktop");
    fixture.app("z-used.desktop");
    fixture.desktop->start("E-Running");
    fixture.dock->ids = {"a-docked"};
    fixture.usage->table["z-used"] = {1023, fixture.clock->wallNow() - std::chrono::hours(24 * 14)};  // 10 × 0.5

    EXPECT_EQ(fixture.suggestedIDs(), (std::vector<std::string>{"z-used", "kitty", "e-running", "a-docked", "c-alpha",
                                                                "b-beta", "d-second", "f-first"}));
    EXPECT_EQ(fixture.suggestedIDs(3), (std::vector<std::string>{"z-used", "kitty", "e-running"}));
    EXPECT_TRUE(fixture.suggest(0).empty());
    EXPECT_EQ(fixture.suggest(1000).size(), 8u);
}

TEST(AppCatalog, SuggestionsCarryFlagsUseAndSymbols) {
    CatalogFixture fixture;
    fixture.app("org.example.Editor.desktop");
    fixture.app("net.kovidgoyal.kitty.desktop");
    fixture.desktop->start("org.example.editor");
    fixture.usage->table["org.example.editor"] = {23, secondsSince1970(1765150000.0017)};
    fixture.usage->table["net.kovidgoyal.kitty"] = {0, secondsSince1970(-1.5004)};

    const auto apps = fixture.suggest(30, {"ORG.EXAMPLE.EDITOR", "other"});
    ASSERT_EQ(apps.size(), 2u);
    const MacApp& kitty = apps[0];
    const MacApp& editor = apps[1];
    EXPECT_EQ(editor.bundleID, "org.example.Editor");
    EXPECT_TRUE(editor.isRunning);
    EXPECT_TRUE(editor.isAdded);
    EXPECT_EQ(editor.symbol, "app");
    EXPECT_EQ(editor.useCount, 23);
    EXPECT_EQ(editor.lastUsedEpochMillis, 1765150000001);
    EXPECT_EQ(editor.icon, std::nullopt);
    EXPECT_EQ(kitty.name, "Kitty");
    EXPECT_EQ(kitty.symbol, "terminal");
    EXPECT_FALSE(kitty.isRunning);
    EXPECT_FALSE(kitty.isAdded);
    EXPECT_EQ(kitty.lastUsedEpochMillis, -1500) << "truncated toward zero";
}

// Only the alias that stands for a curated app is curated: xterm beside GNOME Terminal is an
// ordinary app.
TEST(AppCatalog, OneInstalledAppIsTheCuratedOne) {
    CatalogFixture fixture;
    fixture.app("debian-xterm.desktop", "Name=XTerm\n");
    fixture.app("org.gnome.Terminal.desktop", "Name=GNOME Terminal\n");
    fixture.app("evince.desktop", "Name=Document Viewer\n");
    fixture.desktop->start("debian-xterm");  // 2.5, below the curated 3.0

    const auto apps = fixture.suggest();
    ASSERT_EQ(apps.size(), 3u);
    EXPECT_EQ(apps[0].name, "Terminal");
    EXPECT_EQ(apps[0].symbol, "terminal");
    EXPECT_EQ(apps[1].name, "XTerm");
    EXPECT_EQ(apps[1].symbol, "app");
    EXPECT_TRUE(apps[1].isRunning);
}

TEST(AppCatalog, SuggestsOnlyAppsTheWalkFound) {
    CatalogFixture fixture;
    fixture.app("listed.desktop");
    fixture.app("tools/deeper/elsewhere.desktop");
    fixture.desktop->start("tools-deeper-elsewhere");
    fixture.desktop->start("not-installed");
    fixture.desktop->startUnlisted();
    EXPECT_EQ(fixture.suggestedIDs(), std::vector<std::string>{"listed"});
}

TEST(AppCatalog, SeedsNothingWithoutCuratedApps) {
    CatalogFixture fixture;
    fixture.app("evince.desktop");
    EXPECT_TRUE(fixture.catalog().seeds(5).empty());
}

// Seeds take the desktop ID that stands for each curated app, with the curated name and
// symbol; ties keep to name order.
TEST(AppCatalog, SeedsTheBestScoringCuratedApps) {
    CatalogFixture fixture;
    fixture.app("org.gnome.Terminal.desktop");
    fixture.app("debian-xterm.desktop");
    fixture.app("code.desktop");
    fixture.app("kitty.desktop");
    fixture.app("firefox.desktop");
    fixture.app("dev.zed.Zed.desktop", "NoDisplay=true\n");  // seeds ignore the walk's rules
    fixture.app("alacritty.desktop", "Hidden=true\n");       // but not the workspace's
    fixture.desktop->start("code");
    fixture.usage->table["org.gnome.terminal"] = {1023, fixture.clock->wallNow()};

    const auto seeds = fixture.catalog().seeds(3);
    ASSERT_EQ(seeds.size(), 3u);
    EXPECT_EQ(seeds[0].name, "Terminal");
    EXPECT_EQ(seeds[0].bundleID, "org.gnome.Terminal");
    EXPECT_EQ(seeds[0].symbol, "terminal");
    EXPECT_EQ(seeds[1].name, "VS Code");
    EXPECT_EQ(seeds[1].bundleID, "code");
    EXPECT_EQ(seeds[2].name, "Kitty");  // before "Zed", with the same score
    std::set<std::string> ids;
    for (const auto& seed : seeds) {
        EXPECT_EQ(seed.kind, QuibTarget::Kind::app);
        EXPECT_TRUE(seed.submitOnSend);
        EXPECT_TRUE(seed.allowAutoSubmit);
        EXPECT_FALSE(seed.isProvisional);
        ids.insert(seed.id);
    }
    EXPECT_EQ(ids.size(), 3u);
    EXPECT_NE(fixture.catalog().seeds(1).front().id, seeds[0].id);
    EXPECT_EQ(fixture.catalog().seeds(10).size(), 4u);
}

std::vector<std::string> idsOf(const std::vector<MacApp>& apps) {
    std::vector<std::string> ids;
    for (const auto& app : apps) ids.push_back(app.bundleID);
    return ids;
}

TEST(AppCatalog, DrawsAnIconOncePerIdentifierInAnyLetterCase) {
    CatalogFixture fixture;
    fixture.renderer = std::make_shared<FakeRenderer>();
    fixture.app("org.example.Editor.desktop", "Icon=editor.png\n");
    fixture.icon("editor");

    const auto first = iconsOf(fixture.catalog(), {"org.example.editor"});
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].icon, bytesOf("editor.png"));
    EXPECT_EQ(fixture.renderer->renders, 1);

    const auto again = iconsOf(fixture.catalog(), {"ORG.EXAMPLE.EDITOR"});
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].bundleID, "ORG.EXAMPLE.EDITOR") << "rows keep the identifier as asked";
    EXPECT_EQ(again[0].icon, bytesOf("editor.png"));
    ASSERT_EQ(fixture.suggest().size(), 1u);
    EXPECT_EQ(fixture.suggest()[0].icon, bytesOf("editor.png"));
    EXPECT_EQ(fixture.renderer->renders, 1);
}

TEST(AppCatalog, DrawsAgainAfterAnIconFailedToDraw) {
    CatalogFixture fixture;
    fixture.renderer = std::make_shared<FakeRenderer>();
    fixture.renderer->broken = {"editor.png"};
    fixture.app("org.example.Editor.desktop", "Icon=editor\n");
    fixture.icon("editor");

    EXPECT_TRUE(iconsOf(fixture.catalog(), {"org.example.Editor"}).empty());
    EXPECT_EQ(fixture.suggest()[0].icon, std::nullopt);
    EXPECT_EQ(fixture.renderer->renders, 2);

    fixture.renderer->broken.clear();
    EXPECT_EQ(iconsOf(fixture.catalog(), {"org.example.Editor"}).size(), 1u);
    EXPECT_EQ(iconsOf(fixture.catalog(), {"org.example.Editor"}).size(), 1u);
    EXPECT_EQ(fixture.renderer->renders, 3);
}

TEST(AppCatalog, AnswersIconsInRequestOrderForInstalledAppsWithIcons) {
    CatalogFixture fixture;
    fixture.renderer = std::make_shared<FakeRenderer>();
    fixture.app("org.example.Editor.desktop", "Icon=editor\n");
    fixture.app("kitty.desktop", "Icon=kitty\n");
    fixture.app("blank.desktop", "Icon=nowhere\n");
    fixture.app("bare.desktop");
    fixture.icon("editor");
    fixture.icon("kitty");
    fixture.desktop->start("kitty");
    fixture.usage->table["kitty"] = {9, fixture.clock->wallNow()};

    const auto rows = iconsOf(fixture.catalog(), {"kitty", "nope", "blank", "org.example.Editor", "bare", "kitty"});
    EXPECT_EQ(idsOf(rows), (std::vector<std::string>{"kitty", "org.example.Editor"}));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "Kitty");
    EXPECT_EQ(rows[0].symbol, "terminal");
    EXPECT_EQ(rows[1].name, "org.example.Editor");
    EXPECT_EQ(rows[1].symbol, "app");
    for (const auto& row : rows) {
        EXPECT_FALSE(row.isRunning);
        EXPECT_FALSE(row.isAdded);
        EXPECT_EQ(row.useCount, 0);
        EXPECT_EQ(row.lastUsedEpochMillis, std::nullopt);
    }
    EXPECT_EQ(fixture.renderer->renders, 2);
}

// The curated name and symbol follow the installed app that stands for the curated one.
TEST(AppCatalog, NamesIconRowsAsSuggestionsDo) {
    CatalogFixture fixture;
    fixture.renderer = std::make_shared<FakeRenderer>();
    fixture.app("org.gnome.Terminal.desktop", "Name=GNOME Terminal\nIcon=org.gnome.Terminal\n");
    fixture.app("debian-xterm.desktop", "Name=XTerm\nIcon=xterm\n");
    fixture.icon("org.gnome.Terminal");
    fixture.icon("xterm");

    const auto rows = iconsOf(fixture.catalog(), {"org.gnome.Terminal", "debian-xterm"});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "Terminal");
    EXPECT_EQ(rows[0].symbol, "terminal");
    EXPECT_EQ(rows[1].name, "XTerm");
    EXPECT_EQ(rows[1].symbol, "app");
    for (const auto& suggested : fixture.suggest()) {
        const auto& row = suggested.bundleID == "org.gnome.Terminal" ? rows[0] : rows[1];
        EXPECT_EQ(suggested.name, row.name);
        EXPECT_EQ(suggested.symbol, row.symbol);
        EXPECT_EQ(suggested.icon, row.icon);
    }
}

}  // namespace
}  // namespace quib

namespace quib {
namespace {

// One request of 60,000 repeats once grew the host by hundreds of megabytes of copies of one
// icon: each identifier is answered once, and only so many different ones are looked at.
TEST(AppCatalog, AnswersEachIconOnceAndLooksAtABoundedNumberOfIdentifiers) {
    CatalogFixture fixture;
    fixture.renderer = std::make_shared<FakeRenderer>();
    fixture.app("kitty.desktop", "Icon=kitty\n");
    fixture.icon("kitty");
    EXPECT_EQ(idsOf(iconsOf(fixture.catalog(), std::vector<std::string>(60000, "kitty"))),
              std::vector<std::string>{"kitty"});

    std::vector<std::string> many;
    for (std::size_t n = 0; n < AppCatalog::mostIcons; ++n) many.push_back("missing." + std::to_string(n));
    many.push_back("kitty");
    EXPECT_TRUE(iconsOf(fixture.catalog(), many).empty());
}

}  // namespace
}  // namespace quib
