#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "Platform/Freedesktop/DesktopEntries.hpp"
#include "Platform/Simulated/SimulatedDesktop.hpp"
#include "QuibHost/Apps/MenuScanner.hpp"
#include "Runtime/FakeClock.hpp"
#include "Shared/MenuProfilePayload.hpp"
#include "Tests/Support/ScratchFolder.hpp"

namespace quib {

inline void PrintTo(const MenuProfilePayload& payload, std::ostream* out) { *out << payload.toJson().dump(); }

}  // namespace quib

namespace quib::testing {

using MenuNode = SimulatedDesktop::MenuNode;

// A menu item with a key equivalent: its character, modifier bits and virtual key code.
inline MenuNode keyed(const std::string& title, std::optional<std::string> character,
                      std::optional<std::int64_t> modifiers = std::nullopt,
                      std::optional<std::int64_t> virtualKey = std::nullopt) {
    return MenuNode{title, std::move(character), virtualKey, modifiers, {}};
}

// An item holding a menu of `items`, as a top-level item or a submenu's item is.
inline MenuNode holding(std::optional<std::string> title, std::vector<MenuNode> items) {
    return MenuNode{std::move(title),
                    std::nullopt,
                    std::nullopt,
                    std::nullopt,
                    {MenuNode{std::nullopt, {}, {}, {}, std::move(items)}}};
}

inline MenuNode bar(std::vector<MenuNode> topLevelItems) {
    return MenuNode{std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::move(topLevelItems)};
}

// A desktop with apps installed under desktop entries of the test's own, whose menus the host
// may read; the clock moves only as menu reads cost time.
class MenuDesktop {
public:
    static constexpr const char* editor = "org.example.Editor";

    MenuDesktop() {
        desktop->setTrusted(true);
        install(editor, "Editor");
    }

    // An entry named `name`; a file is installed before the entries are first read.
    void install(const std::string& id, const std::string& name) const {
        std::filesystem::create_directories(folder());
        std::ofstream(folder() / (id + ".desktop")) << "[Desktop Entry]\nType=Application\nName=" << name << "\n";
    }

    // Starts the app with this menu bar (none: it publishes none); returns its process.
    std::int64_t run(const std::string& id, std::optional<MenuNode> menus) const {
        desktop->start(id);
        const std::int64_t process = desktop->app(id)->processID;
        desktop->setMenuBar(process, std::move(menus));
        return process;
    }

    MenuScanner::Config config() {
        if (!entries) entries = std::make_shared<DesktopEntries>(std::vector{folder()}, "");
        return {.workspace = desktop, .applications = entries, .menus = desktop, .clock = clock};
    }

    std::filesystem::path folder() const { return scratch.path / "applications"; }

    ScratchFolder scratch{"menus"};
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<SimulatedDesktop> desktop = std::make_shared<SimulatedDesktop>(clock);
    std::shared_ptr<DesktopEntries> entries;
};

}  // namespace quib::testing
