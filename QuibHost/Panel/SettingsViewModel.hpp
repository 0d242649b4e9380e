#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Runtime/HostWords.hpp"
#include "Shared/QuibTarget.hpp"

namespace quib {

// What the settings window shows, built from the saved targets, the ones whose pane is gone, and
// the window's own selection. The window draws it and the control tool prints it; neither makes
// a text of its own.
struct SettingsViewModel {
    // The fixed texts and symbols of the window.
    struct Texts {
        static constexpr std::string_view title = said<HostWords::product, " Settings">;
        static constexpr std::string_view warningSymbol = "exclamationmark.triangle.fill";
        static constexpr std::string_view warningHelp = "This pane is no longer running. Pick another one.";
        static constexpr std::string_view addSymbol = "plus";
        static constexpr std::string_view removeSymbol = "minus";
        static constexpr std::string_view countSuffix = " targets";
        static constexpr std::string_view placeholderTitle = "No target selected";
        static constexpr std::string_view placeholderSymbol = "square.dashed";
        static constexpr std::string_view placeholderDescription = "Pick a target on the left, or add one.";
    };

    // One row of the list, tagged with its target's id.
    struct Row {
        std::string id;
        std::string name;
        std::string symbol;
        bool unresolved = false;  // shows the orange warning with its help
        bool selected = false;
        bool operator==(const Row&) const = default;
    };

    std::vector<Row> rows;   // in the store's order
    bool canAdd = true;      // false at the store's cap of saved targets
    bool canRemove = false;  // false while nothing is selected
    std::string count;       // "N targets"
    // The target the right pane edits; none: the placeholder shows.
    std::optional<QuibTarget> selectedTarget;

    // `current` is the list's current row: it is the selected target when it is selected, else
    // the first selected row in list order is.
    static SettingsViewModel build(const std::vector<QuibTarget>& targets, const std::set<std::string>& unresolved,
                                   const std::set<std::string>& selection,
                                   const std::optional<std::string>& current = std::nullopt);

    bool operator==(const SettingsViewModel&) const = default;
};

}  // namespace quib
