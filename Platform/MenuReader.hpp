#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Runtime/Clock.hpp"

namespace quib {

// Another running app's menus, as the desktop's accessibility interface shows them: a menu bar
// whose children are the top-level items, each item holding its menu, each menu holding items,
// and so on down. Safe on any thread; a reader may do its work on a thread of its own.
class MenuReader {
public:
    // Modifier bits of an item's key equivalent.
    static constexpr std::int64_t shiftModifier = 1;
    static constexpr std::int64_t optionModifier = 2;
    static constexpr std::int64_t controlModifier = 4;
    static constexpr std::int64_t noCommandModifier = 8;  // set when the chord has no Command key

    // One element of an app's menus: its bar, a menu or an item. Every read asks the app and
    // waits at most the messaging timeout the bar was found with. A read that fails, times out
    // or finds no value gives nothing; no read reports why.
    class Element {
    public:
        virtual ~Element() = default;
        virtual std::vector<std::shared_ptr<Element>> children() = 0;
        virtual std::optional<std::string> title() = 0;
        // An item's key equivalent, in three parts: the character it shows, the virtual key code
        // of a key that has no character, and the modifier bits above (absent: Command alone).
        virtual std::optional<std::string> commandCharacter() = 0;
        virtual std::optional<std::int64_t> commandVirtualKey() = 0;
        virtual std::optional<std::int64_t> commandModifiers() = 0;
    };

    virtual ~MenuReader() = default;

    // The host may read other apps' menus. Quick, and never prompts.
    virtual bool isTrusted() = 0;
    // The menu bar of the app running as process `processID`; null when it publishes none or
    // does not answer. This read and every read of the bar's elements give up after
    // `messagingTimeout`.
    virtual std::shared_ptr<Element> menuBar(std::int64_t processID, Duration messagingTimeout) = 0;
    // The first top-level item of every bar is the system's own menu, not the app's.
    virtual bool firstTopLevelItemIsSystemMenu() = 0;
};

}  // namespace quib
