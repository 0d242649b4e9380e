#include "Platform/Freedesktop/AppIdentity.hpp"

#include <algorithm>

#include "Runtime/AsciiText.hpp"

namespace quib {

// Only the same product is aliased (Chromium is not Chrome). Desktop IDs that equal the vendor
// identifier apart from letter case need no row, since lookups ignore case and try the vendor
// identifier first: com.mitchellh.ghostty, dev.zed.Zed, and the flatpak IDs com.google.Chrome,
// com.brave.Browser and com.vivaldi.Vivaldi. "Terminal" stands for the desktop's own terminal.
const std::vector<AppIdentity::Alias>& AppIdentity::aliases() {
    static const std::vector<Alias> table{
        {"com.anthropic.claudefordesktop", {"claude-desktop"}},
        {"com.apple.Terminal",
         {"org.gnome.Terminal", "org.gnome.Console", "org.kde.konsole", "xfce4-terminal", "mate-terminal", "lxterminal",
          "debian-xterm"}},
        {"com.github.wez.wezterm", {"org.wezfurlong.wezterm"}},
        {"net.kovidgoyal.kitty", {"kitty"}},
        {"org.alacritty", {"Alacritty", "org.alacritty.Alacritty"}},
        {"dev.warp.Warp-Stable", {"dev.warp.Warp"}},
        {"co.zeit.hyper", {"hyper"}},
        {"com.microsoft.VSCode", {"code", "com.visualstudio.code"}},
        {"com.microsoft.vscodeinsiders", {"code-insiders"}},
        {"com.visualstudio.code.oss", {"code-oss", "com.visualstudio.code-oss"}},
        {"com.todesktop.230313mzl4w4u92", {"cursor"}},
        {"com.exafunction.windsurf", {"windsurf"}},
        {"com.google.Chrome", {"google-chrome"}},
        {"com.brave.browser", {"brave-browser"}},
        {"com.microsoft.edgemac", {"microsoft-edge", "com.microsoft.Edge"}},
        {"org.mozilla.firefox", {"firefox", "firefox-esr"}},
        {"com.vivaldi.vivaldi", {"vivaldi-stable"}},
        {"com.operasoftware.opera", {"opera"}},
    };
    return table;
}

std::string AppIdentity::canonicalBundleID(std::string_view id) {
    for (const auto& alias : aliases())
        for (const auto desktopID : alias.desktopIDs)
            if (ascii::equalIgnoringCase(desktopID, id)) return std::string(alias.bundleID);
    return std::string(id);
}

std::optional<DesktopEntry> AppIdentity::installedEntry(const AppRanking::Known& curated,
                                                        std::span<const DesktopEntry> installed) {
    if (auto own = DesktopEntries::find(installed, curated.bundleID)) return own;
    const auto row = std::ranges::find_if(
        aliases(), [&](const Alias& alias) { return ascii::equalIgnoringCase(alias.bundleID, curated.bundleID); });
    if (row == aliases().end()) return std::nullopt;
    for (const auto desktopID : row->desktopIDs)
        if (auto entry = DesktopEntries::find(installed, desktopID)) return entry;
    return std::nullopt;
}

std::optional<DesktopEntry> AppIdentity::installedEntry(const AppRanking::Known& curated,
                                                        const DesktopEntries& entries) {
    return installedEntry(curated, entries.installed());
}

const AppRanking::Known* AppIdentity::knownApp(std::string_view id, std::span<const DesktopEntry> installed) {
    const auto* curated = AppRanking::known(canonicalBundleID(id));
    if (!curated) return nullptr;
    const auto entry = installedEntry(*curated, installed);
    return entry && ascii::equalIgnoringCase(entry->id, id) ? curated : nullptr;
}

const AppRanking::Known* AppIdentity::knownApp(std::string_view id, const DesktopEntries& entries) {
    return knownApp(id, entries.installed());
}

const ShortcutProfile& AppIdentity::guessProfile(const std::optional<std::string_view>& bundleID) {
    if (!bundleID) return ShortcutProfiles::guessForBundleID(std::nullopt);
    return ShortcutProfiles::guessForBundleID(canonicalBundleID(*bundleID));
}

QuibTarget AppIdentity::withGuessedProfile(QuibTarget target) {
    if (target.kind != QuibTarget::Kind::app || !target.bundleID || target.profileID) return target;
    const auto& guessed = guessProfile(*target.bundleID);
    if (guessed.id != ShortcutProfiles::guessForBundleID(*target.bundleID).id) target.profileID = guessed.id;
    return target;
}

const ShortcutProfile& AppIdentity::resolvedProfile(const QuibTarget& target,
                                                    const std::optional<std::string_view>& paneCommand) {
    if (target.kind != QuibTarget::Kind::app || !target.bundleID)
        return ShortcutProfiles::resolved(target, paneCommand);
    QuibTarget canonical = target;
    canonical.bundleID = canonicalBundleID(*target.bundleID);
    return ShortcutProfiles::resolved(canonical, paneCommand);
}

}  // namespace quib
