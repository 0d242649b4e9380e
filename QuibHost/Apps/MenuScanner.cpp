#include "QuibHost/Apps/MenuScanner.hpp"

#include <algorithm>

#include "Runtime/Required.hpp"
#include "Runtime/UnicodeText.hpp"

namespace quib {

MenuScanner::Config MenuScanner::Config::onDesktop(const DesktopServices& desktop, std::shared_ptr<Clock> clock,
                                                   std::shared_ptr<DesktopEntries> applications) {
    auto workspace = required(desktop.workspace, "MenuScanner", "workspace");
    auto menus = required(desktop.menus, "MenuScanner", "menu reader");
    return {std::move(workspace), required(std::move(applications), "MenuScanner", "desktop entries"), std::move(menus),
            std::move(clock)};
}

MenuScanner::MenuScanner(Config config) : config_(std::move(config)) {}

MenuScanner::Outcome MenuScanner::scan(const std::string& bundleID) const {
    if (!config_.menus->isTrusted()) return Unreadable{std::string(untrustedNote)};
    const auto process = processID(bundleID);
    if (!process) return NotRunning{};
    const auto name = appName(bundleID);
    if (!name) return NotRunning{};
    const auto bar = config_.menus->menuBar(*process, messagingTimeout);
    if (!bar) return Unreadable{*name + std::string(noMenuBarEnding)};

    Walk state{{}, 0, config_.clock->now() + scanTime};
    auto items = bar->children();
    // A bar that starts with the system's own menu: that one is not the app's.
    if (config_.menus->firstTopLevelItemIsSystemMenu() && !items.empty()) items.erase(items.begin());
    for (const auto& item : items) {
        const auto title = item->title();
        if (!title || title->empty()) continue;
        for (const auto& menu : item->children()) walk(*menu, *title, 1, state);
        if (state.visited >= visitLimit || isPast(state)) break;
    }
    return Read{*name, std::move(state.commands)};
}

std::optional<std::int64_t> MenuScanner::processID(const std::string& bundleID) const {
    const auto instances = config_.workspace->runningInstances(bundleID);
    const auto first = std::ranges::find(instances, bundleID, &Workspace::RunningApp::bundleID);
    if (first == instances.end() || first->processID <= 0) return std::nullopt;
    return first->processID;
}

// The name the user knows the app by, in the user's language.
std::optional<std::string> MenuScanner::appName(const std::string& bundleID) const {
    const auto entry = config_.applications->application(bundleID);
    if (!entry) return std::nullopt;
    std::string name = entry->localizedName();
    if (name.empty()) return std::nullopt;
    return name;
}

// Every item below `element` that has a title and a key equivalent becomes a command of `menu`,
// the top-level title, however deep it sits; an item without either still has its submenus read.
void MenuScanner::walk(MenuReader::Element& element, const std::string& menu, int depth, Walk& state) const {
    if (depth > deepestLevel || state.visited >= visitLimit || isPast(state)) return;
    for (const auto& child : element.children()) {
        if (++state.visited >= visitLimit || isPast(state)) return;
        const auto title = child->title();
        if (title && !title->empty())
            if (auto keys = chord(*child)) state.commands.push_back({menu, *title, std::move(*keys)});
        for (const auto& grandchild : child->children()) walk(*grandchild, menu, depth + 1, state);
    }
}

// Modifiers absent mean Command alone; bits above the four known ones are ignored.
std::optional<KeyChord> MenuScanner::chord(MenuReader::Element& item) {
    const auto character = item.commandCharacter();
    const auto virtualKey = item.commandVirtualKey();
    auto key = keyToken(character, virtualKey);
    if (!key) return std::nullopt;
    const std::int64_t modifiers = item.commandModifiers().value_or(0);
    return KeyChord(std::move(*key), (modifiers & MenuReader::controlModifier) != 0,
                    (modifiers & MenuReader::optionModifier) != 0, (modifiers & MenuReader::shiftModifier) != 0,
                    (modifiers & MenuReader::noCommandModifier) == 0);
}

// The key name of an item's equivalent: a control character's named key, else the character
// itself when it names a key, else the name of the virtual key.
std::optional<std::string> MenuScanner::keyToken(const std::optional<std::string>& character,
                                                 std::optional<std::int64_t> virtualKey) {
    const std::u32string scalars = character ? unicode::codePoints(*character) : std::u32string();
    if (scalars.size() == 1) {
        switch (scalars.front()) {
            case 3:
            case 13: return "enter";
            case 8:
            case 127: return "delete";
            case 9: return "tab";
            case 27: return "escape";
            case 32: return "space";
            default: break;
        }
        std::string lowered = unicode::lower(*character);
        if (KeyChord::keyCodes().contains(lowered)) return lowered;
    }
    if (virtualKey && *virtualKey >= 0 && *virtualKey <= 0xFFFF)
        return KeyChord::keyForVirtualKey(static_cast<std::uint16_t>(*virtualKey));
    return std::nullopt;
}

}  // namespace quib
