#include <algorithm>
#include <string>

#include "Runtime/UnicodeText.hpp"
#include "Shared/ShortcutProfiles.hpp"

// Which built-in profile a target gets.

namespace quib {
namespace {

// The identifier is the listed one followed by "." or "-": a variant of the same app.
bool isVariantOf(std::string_view identifier, std::string_view listed) {
    return identifier.size() > listed.size() && identifier.starts_with(listed) &&
           (identifier[listed.size()] == '.' || identifier[listed.size()] == '-');
}

// The first profile, in order and within each in listing order, with an identifier that passes.
template <class Matches>
const ShortcutProfile* firstListing(const std::vector<ShortcutProfile>& profiles, Matches matches) {
    for (const auto& profile : profiles)
        if (std::ranges::any_of(profile.bundleIDs, matches)) return &profile;
    return nullptr;
}

}  // namespace

const std::vector<ShortcutProfile>& ShortcutProfiles::paneProfiles() {
    static const std::vector<ShortcutProfile> profiles{claudeCode(), codex(), shell()};
    return profiles;
}

const std::vector<ShortcutProfile>& ShortcutProfiles::appProfiles() {
    static const std::vector<ShortcutProfile> profiles{app(), browser(), editor(), xcode(), chat(), terminalApp()};
    return profiles;
}

const std::vector<ShortcutProfile>& ShortcutProfiles::all() {
    static const std::vector<ShortcutProfile> profiles = [] {
        std::vector<ShortcutProfile> joined = paneProfiles();
        joined.insert(joined.end(), appProfiles().begin(), appProfiles().end());
        return joined;
    }();
    return profiles;
}

const std::vector<ShortcutProfile>& ShortcutProfiles::choices(QuibTarget::Kind kind) {
    return kind == QuibTarget::Kind::tmux ? paneProfiles() : appProfiles();
}

const ShortcutProfile* ShortcutProfiles::profile(const std::optional<std::string_view>& id) {
    if (!id) return nullptr;
    const auto found = std::ranges::find(all(), *id, &ShortcutProfile::id);
    return found == all().end() ? nullptr : &*found;
}

const ShortcutProfile& ShortcutProfiles::guessForCommand(const std::optional<std::string_view>& command) {
    if (!command || command->empty()) return shell();
    const std::string lowered = unicode::lower(*command);
    for (const auto& profile : paneProfiles())
        if (std::ranges::find(profile.commands, lowered) != profile.commands.end()) return profile;
    return shell();
}

// An exact listing anywhere in the table wins over a variant of an earlier listing.
const ShortcutProfile& ShortcutProfiles::guessForBundleID(const std::optional<std::string_view>& bundleID) {
    if (!bundleID || bundleID->empty()) return app();
    const std::string lowered = unicode::lower(*bundleID);
    if (auto exact = firstListing(appProfiles(), [&](const std::string& listed) { return listed == lowered; }))
        return *exact;
    if (auto variant =
            firstListing(appProfiles(), [&](const std::string& listed) { return isVariantOf(lowered, listed); }))
        return *variant;
    return app();
}

const ShortcutProfile& ShortcutProfiles::resolved(const QuibTarget& target,
                                                  const std::optional<std::string_view>& paneCommand) {
    if (const auto* stored = profile(target.profileID)) return *stored;
    switch (target.kind) {
        case QuibTarget::Kind::app: return guessForBundleID(target.bundleID);
        case QuibTarget::Kind::tmux: return guessForCommand(paneCommand);
        case QuibTarget::Kind::frontmost: break;
    }
    return app();
}

}  // namespace quib
