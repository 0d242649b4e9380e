#include "Platform/Freedesktop/AppIdentity.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "Runtime/AsciiText.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib {
namespace {

namespace fs = std::filesystem;

// An application folder of the test's own, with the given desktop IDs installed. Each look-up
// reads it anew, so that entries installed within one tick of the clock are seen.
class InstalledApps {
public:
    explicit InstalledApps(std::initializer_list<std::string> ids) {
        for (const auto& id : ids) install(id);
    }
    void install(const std::string& id, const std::string& extra = "") const {
        fs::create_directories(folder());
        std::ofstream(folder() / (id + ".desktop")) << "[Desktop Entry]\nType=Application\nName=" << id << "\n"
                                                    << extra;
    }
    fs::path folder() const { return scratch.path / "applications"; }
    DesktopEntries entries() const { return DesktopEntries({folder()}, (scratch.path / "bin").string()); }

    testing::ScratchFolder scratch{"apps"};
};

const AppRanking::Known& row(std::string_view bundleID) {
    const auto* known = AppRanking::known(bundleID);
    if (!known) throw std::runtime_error("not curated: " + std::string(bundleID));
    return *known;
}

std::optional<std::string> pickedFor(std::string_view bundleID, const InstalledApps& apps) {
    const auto entry = AppIdentity::installedEntry(row(bundleID), apps.entries());
    return entry ? std::optional(entry->id) : std::nullopt;
}

TEST(AppIdentity, NoDesktopIDStandsForTwoApps) {
    std::set<std::string> seen;
    for (const auto& alias : AppIdentity::aliases()) {
        EXPECT_TRUE(seen.insert(ascii::lowered(alias.bundleID)).second) << alias.bundleID;
        for (const auto id : alias.desktopIDs) EXPECT_TRUE(seen.insert(ascii::lowered(id)).second) << id;
    }
}

TEST(AppIdentity, AliasesTakeTheVendorIdentifierForGuessing) {
    EXPECT_EQ(AppIdentity::canonicalBundleID("org.gnome.Terminal"), "com.apple.Terminal");
    EXPECT_EQ(AppIdentity::canonicalBundleID("ORG.GNOME.TERMINAL"), "com.apple.Terminal");
    EXPECT_EQ(AppIdentity::canonicalBundleID("chromium"), "chromium");
    EXPECT_EQ(AppIdentity::canonicalBundleID("Evince"), "Evince");

    for (const auto& [id, profile] :
         std::vector<std::pair<std::string, std::string>>{{"firefox-esr", "browser"},
                                                          {"code", "editor"},
                                                          {"kitty", "terminal"},
                                                          {"evince", "app"},
                                                          {"debian-xterm", "terminal"},
                                                          {"claude-desktop", "chat"},
                                                          {"code-insiders", "editor"},
                                                          {"org.alacritty.Alacritty", "terminal"},
                                                          {"com.mitchellh.ghostty", "terminal"},
                                                          {"", "app"}})
        EXPECT_EQ(AppIdentity::guessProfile(id).id, profile) << id;
    EXPECT_EQ(AppIdentity::guessProfile(std::nullopt).id, "app");
    // Alacritty's own desktop ID is also a variant of the listed identifier.
    EXPECT_EQ(ShortcutProfiles::guessForBundleID("org.alacritty.Alacritty").id, "terminal");
}

TEST(AppIdentity, PicksTheFirstInstalledAliasInTableOrder) {
    InstalledApps apps{"debian-xterm", "org.kde.konsole", "evince"};
    EXPECT_EQ(pickedFor("com.apple.Terminal", apps), "org.kde.konsole");
    apps.install("org.gnome.Terminal");
    EXPECT_EQ(pickedFor("com.apple.Terminal", apps), "org.gnome.Terminal");
    // An entry that is hidden or whose program is missing is not installed.
    apps.install("firefox", "Hidden=true\n");
    apps.install("firefox-esr", "TryExec=firefox-esr\n");
    EXPECT_EQ(pickedFor("com.microsoft.VSCode", apps), std::nullopt);
    // The app's own identifier comes first, in any letter case.
    apps.install("com.visualstudio.code");
    apps.install("com.microsoft.vscode");
    EXPECT_EQ(pickedFor("com.microsoft.VSCode", apps), "com.microsoft.vscode");
    apps.install("dev.zed.Zed");
    EXPECT_EQ(pickedFor("dev.zed.Zed", apps), "dev.zed.Zed");
    EXPECT_EQ(pickedFor("com.google.Chrome", apps), std::nullopt);
}

// With GNOME Terminal and xterm both installed, only the first is "Terminal"; xterm keeps its own
// name and symbol and ranks as an ordinary app, but still gets the terminal's buttons.
TEST(AppIdentity, OneInstalledAppStandsForEachCuratedOne) {
    InstalledApps apps{"debian-xterm"};
    EXPECT_EQ(AppIdentity::knownApp("debian-xterm", apps.entries()), &row("com.apple.Terminal"));

    apps.install("org.gnome.Terminal");
    EXPECT_EQ(AppIdentity::knownApp("org.gnome.Terminal", apps.entries()), &row("com.apple.Terminal"));
    EXPECT_EQ(AppIdentity::knownApp("ORG.GNOME.TERMINAL", apps.entries()), &row("com.apple.Terminal"));
    EXPECT_EQ(AppIdentity::knownApp("debian-xterm", apps.entries()), nullptr);
    EXPECT_EQ(AppIdentity::knownApp("com.apple.Terminal", apps.entries()), nullptr);
    EXPECT_EQ(AppIdentity::guessProfile("debian-xterm").id, "terminal");

    EXPECT_EQ(AppIdentity::knownApp("evince", apps.entries()), nullptr);
    EXPECT_EQ(AppIdentity::knownApp("kitty", apps.entries()), nullptr) << "curated but not installed";
    apps.install("kitty");
    EXPECT_EQ(AppIdentity::knownApp("kitty", apps.entries()), &row("net.kovidgoyal.kitty"));
    // Browsers outside the curated table stay ordinary apps.
    apps.install("firefox");
    EXPECT_EQ(AppIdentity::knownApp("firefox", apps.entries()), nullptr);
}

TEST(AppIdentity, ResolvesAppTargetsThroughTheirAliasesAndStoresWhatPhonesCannotGuess) {
    auto target = [](QuibTarget::Kind kind, std::optional<std::string> bundleID, std::optional<std::string> profileID) {
        QuibTarget made;
        made.kind = kind;
        made.bundleID = std::move(bundleID);
        made.profileID = std::move(profileID);
        return made;
    };
    using Kind = QuibTarget::Kind;
    EXPECT_EQ(AppIdentity::resolvedProfile(target(Kind::app, "code", "menu:code"), std::nullopt).id, "editor");
    EXPECT_EQ(AppIdentity::resolvedProfile(target(Kind::app, "org.gnome.Console", std::nullopt), std::nullopt).id,
              "terminal");
    EXPECT_EQ(AppIdentity::resolvedProfile(target(Kind::app, "firefox", "chat"), std::nullopt).id, "chat");
    EXPECT_EQ(AppIdentity::resolvedProfile(target(Kind::tmux, std::nullopt, "claude"), "zsh").id, "claude");
    EXPECT_EQ(AppIdentity::resolvedProfile(target(Kind::tmux, std::nullopt, std::nullopt), std::nullopt).id, "shell");
    EXPECT_EQ(AppIdentity::resolvedProfile(target(Kind::frontmost, "code", std::nullopt), std::nullopt).id, "app");

    // Stored only where the phones' own guess would miss it, and never over a stored choice.
    const auto stored = [](const QuibTarget& made) { return AppIdentity::withGuessedProfile(made).profileID; };
    EXPECT_EQ(stored(target(Kind::app, "code", std::nullopt)), "editor");
    EXPECT_EQ(stored(target(Kind::app, "org.alacritty.Alacritty", std::nullopt)), std::nullopt);
    EXPECT_EQ(stored(target(Kind::app, "org.example.Viewer", std::nullopt)), std::nullopt);
    EXPECT_EQ(stored(target(Kind::app, "code", "menu:code")), "menu:code");
    EXPECT_EQ(stored(target(Kind::frontmost, "code", std::nullopt)), std::nullopt);
}

}  // namespace
}  // namespace quib
