#include "Shared/AppRanking.hpp"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "Runtime/UnicodeText.hpp"

namespace quib {

const std::vector<AppRanking::Known>& AppRanking::curated() {
    static const std::vector<Known> apps{
        {"Claude", "com.anthropic.claudefordesktop", "sparkle"},
        {"Codex", "com.openai.codex", "chevron.left.forwardslash.chevron.right"},
        {"ChatGPT", "com.openai.chat", "bubble.left.and.text.bubble.right"},
        {"iTerm", "com.googlecode.iterm2", "terminal"},
        {"Terminal", "com.apple.Terminal", "terminal"},
        {"Ghostty", "com.mitchellh.ghostty", "terminal"},
        {"WezTerm", "com.github.wez.wezterm", "terminal"},
        {"Kitty", "net.kovidgoyal.kitty", "terminal"},
        {"Alacritty", "org.alacritty", "terminal"},
        {"Warp", "dev.warp.Warp-Stable", "terminal"},
        {"Hyper", "co.zeit.hyper", "terminal"},
        {"VS Code", "com.microsoft.VSCode", "chevron.left.forwardslash.chevron.right"},
        {"Cursor", "com.todesktop.230313mzl4w4u92", "chevron.left.forwardslash.chevron.right"},
        {"Windsurf", "com.exafunction.windsurf", "chevron.left.forwardslash.chevron.right"},
        {"Zed", "dev.zed.Zed", "chevron.left.forwardslash.chevron.right"},
        {"Xcode", "com.apple.dt.Xcode", "hammer"},
        {"Safari", "com.apple.Safari", "globe"},
        {"Chrome", "com.google.Chrome", "globe"},
        {"Arc", "company.thebrowser.Browser", "globe"},
    };
    return apps;
}

const AppRanking::Known* AppRanking::known(std::string_view bundleID) {
    // Keyed by the lower-cased identifier; a later row would replace an earlier one.
    static const std::unordered_map<std::string, const Known*> byID = [] {
        std::unordered_map<std::string, const Known*> table;
        for (const auto& app : curated()) table.insert_or_assign(unicode::lower(app.bundleID), &app);
        return table;
    }();
    const auto found = byID.find(unicode::lower(bundleID));
    return found == byID.end() ? nullptr : found->second;
}

std::string AppRanking::symbol(std::string_view bundleID) {
    const auto* app = known(bundleID);
    return app ? app->symbol : "app";
}

double AppRanking::score(std::int64_t useCount, std::optional<WallTime> lastUsed, bool isRunning, bool isDocked,
                         bool isCurated, WallTime now) {
    constexpr double secondsPerDay = 86400;
    constexpr double halfLifeDays = 14;
    constexpr double recencyFloor = 0.02;
    const double frequency = std::min(std::log2(static_cast<double>(std::max<std::int64_t>(useCount, 0)) + 1), 10.0);
    double recency = recencyFloor;
    if (lastUsed) {
        // Each time on its own, so that dates far apart cannot overflow a difference.
        const auto seconds = [](WallTime t) { return std::chrono::duration<double>(t.time_since_epoch()).count(); };
        const double days = std::max((seconds(now) - seconds(*lastUsed)) / secondsPerDay, 0.0);
        recency = std::max(std::exp2(-days / halfLifeDays), recencyFloor);
    }
    double score = frequency * recency;
    if (isRunning) score += 2.5;
    if (isDocked) score += 1.5;
    if (isCurated) score += 3.0;
    return score;
}

}  // namespace quib
