#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Freedesktop/DesktopEntries.hpp"
#include "Shared/AppRanking.hpp"
#include "Shared/QuibTarget.hpp"
#include "Shared/ShortcutProfiles.hpp"

namespace quib {

// Which well-known app an installed application is on this desktop.
//
// Here an app's bundle identifier is its desktop-file ID ("org.gnome.Terminal", "firefox-esr").
// The curated apps and the shortcut profiles name apps by their usual vendor identifiers
// ("com.apple.Terminal", "org.mozilla.firefox"); a fixed alias table maps the common desktop IDs
// of the same products to those. The shared tables stay as they are: only the host's callers
// translate, through the operations below.
//
// Constants and pure functions, apart from reading the installed entries; any thread may call.
class AppIdentity {
public:
    AppIdentity() = delete;

    // The host's own desktop ID, which names its login item's entry; the host never offers
    // itself as an app.
    static constexpr std::string_view hostDesktopID = "quib-host";

    // One vendor identifier and the desktop IDs of the same product, in order of preference.
    // No desktop ID appears under two identifiers.
    struct Alias {
        std::string_view bundleID;
        std::vector<std::string_view> desktopIDs;
    };
    static const std::vector<Alias>& aliases();

    // The vendor identifier whose aliases hold `id`, ignoring ASCII letter case; else `id` itself.
    static std::string canonicalBundleID(std::string_view id);

    // The installed entry that stands for a curated app: the first of its own identifier, then
    // its aliases in order, that is installed (each matched exactly, else ignoring ASCII case).
    static std::optional<DesktopEntry> installedEntry(const AppRanking::Known& curated,
                                                      std::span<const DesktopEntry> installed);
    static std::optional<DesktopEntry> installedEntry(const AppRanking::Known& curated, const DesktopEntries& entries);

    // The curated app that the installed app `id` is, or null. One installed app stands for each
    // curated one, the one installedEntry picks: any other alias of the same app is an ordinary
    // app with its own name and symbol, so a desktop with two terminals shows one "Terminal". Use
    // it for every name, symbol, suggestion, seed and provisional target.
    static const AppRanking::Known* knownApp(std::string_view id, std::span<const DesktopEntry> installed);
    static const AppRanking::Known* knownApp(std::string_view id, const DesktopEntries& entries);

    // The app profile guessed from the canonical identifier: every alias guesses its product's
    // profile, whichever of them is the curated one.
    static const ShortcutProfile& guessProfile(const std::optional<std::string_view>& bundleID);

    // The target with its product's app profile stored, when it is an app target without a
    // stored profile whose desktop ID the shared guess, which knows vendor identifiers only,
    // would give another profile: phones resolve a target by the shared guess alone, so an
    // "org.gnome.Terminal" target shows the terminal's buttons only when it says so itself. Any
    // other target comes back unchanged.
    static QuibTarget withGuessedProfile(QuibTarget target);

    // The profile a target resolves to, an app target's identifier taken canonically.
    static const ShortcutProfile& resolvedProfile(const QuibTarget& target,
                                                  const std::optional<std::string_view>& paneCommand);
};

}  // namespace quib
