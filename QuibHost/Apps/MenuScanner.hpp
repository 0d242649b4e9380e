#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Platform/DesktopServices.hpp"
#include "Platform/Freedesktop/DesktopEntries.hpp"
#include "Platform/MenuReader.hpp"
#include "Platform/Workspace.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/HostWords.hpp"
#include "Shared/KeyChord.hpp"
#include "Shared/MenuCommand.hpp"

namespace quib {

// Reads the menu bar of another running app and returns every item that has a key equivalent,
// under the title of the top-level menu it sits in. It is the only place the host looks into
// another app's menus. A scan keeps nothing and caches nothing.
//
// A slow or very large menu tree cannot tie up the caller for long: every read gives up after
// 1.5 s, the walk ends 6 s after the bar was found or after 1,199 items, and only three levels
// below a top-level item are read. What was gathered until then is the answer.
class MenuScanner {
public:
    static constexpr Duration messagingTimeout = std::chrono::milliseconds(1500);
    static constexpr Duration scanTime = std::chrono::seconds(6);
    static constexpr int deepestLevel = 3;            // 1: a top-level menu's items, 2: their submenus' ...
    static constexpr std::int64_t visitLimit = 1200;  // the walk stops when the count reaches it

    static constexpr std::string_view untrustedNote =
        said<HostWords::product, " needs ", HostWords::menusNeed, " to read another app's menus">;
    static constexpr std::string_view noMenuBarEnding =
        said<" publishes no menu bar ", HostWords::product, " can read">;

    // The app's name and its commands in menu-bar order, possibly none.
    struct Read {
        std::string appName;
        std::vector<MenuCommand> commands;
        bool operator==(const Read&) const = default;
    };
    // Why the menus cannot be read, a sentence for the user.
    struct Unreadable {
        std::string note;
        bool operator==(const Unreadable&) const = default;
    };
    // No running app with that identifier, or none the menus could be read from.
    struct NotRunning {
        bool operator==(const NotRunning&) const = default;
    };
    using Outcome = std::variant<Read, Unreadable, NotRunning>;

    struct Config {
        std::shared_ptr<Workspace> workspace;          // which apps run, as which process
        std::shared_ptr<DesktopEntries> applications;  // their names
        std::shared_ptr<MenuReader> menus;
        std::shared_ptr<Clock> clock;

        // The desktop's workspace and menus, with the names of the entries in `applications`;
        // all three required.
        static Config onDesktop(const DesktopServices& desktop, std::shared_ptr<Clock> clock,
                                std::shared_ptr<DesktopEntries> applications);
    };

    explicit MenuScanner(Config config);

    // Blocks for as long as the app takes to answer, within the limits above: call it off the
    // main loop.
    Outcome scan(const std::string& bundleID) const;
    // The process of the app's first running instance whose bundle identifier is exactly this
    // one, letter case included; none when there is none, or when its windows name no process.
    std::optional<std::int64_t> processID(const std::string& bundleID) const;

private:
    // What one scan carries through the walk.
    struct Walk {
        std::vector<MenuCommand> commands;
        std::int64_t visited = 0;
        MonoTime deadline;
    };

    std::optional<std::string> appName(const std::string& bundleID) const;
    void walk(MenuReader::Element& element, const std::string& menu, int depth, Walk& state) const;
    bool isPast(const Walk& state) const { return config_.clock->now() > state.deadline; }
    static std::optional<KeyChord> chord(MenuReader::Element& item);
    static std::optional<std::string> keyToken(const std::optional<std::string>& character,
                                               std::optional<std::int64_t> virtualKey);

    Config config_;
};

}  // namespace quib
