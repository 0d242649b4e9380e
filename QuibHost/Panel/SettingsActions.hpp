#pragma once

#include <cstddef>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "QuibHost/Panel/SettingsViewModel.hpp"
#include "QuibHost/Panel/TargetBinding.hpp"
#include "QuibHost/Panel/TargetEditorActions.hpp"
#include "QuibHost/Targets/TargetStoreService.hpp"

namespace quib {

// What the settings window's controls do, each one operation of the target store or a fixed
// sequence of them: the window and the control tool both come here. The selection is the
// window's own; these only say what it becomes. Main executor only.
class SettingsActions {
public:
    // Brings the settings window up, with the row of this id selected when one is given.
    using Opener = std::function<void(const std::optional<std::string>& select)>;

    struct Config {
        std::shared_ptr<TargetStoreService> store = nullptr;
        // What the selected target's editor is made with, but its binding and app chooser; no
        // main executor: the window shows the target's name in its place.
        TargetEditorActions::Config editing = {};
    };

    explicit SettingsActions(Config config);

    TargetStoreService& store() { return *config_.store; }
    const TargetEditorActions::Config& editing() const { return config_.editing; }

    // The window's model for this selection, from the store as it stands.
    SettingsViewModel model(const std::set<std::string>& selection,
                            const std::optional<std::string>& current = std::nullopt);

    // "plus": a new app target named "New target", appended and stored, never made active. Its
    // id, which becomes the whole selection; none when the list is full or the store refused it.
    std::optional<std::string> add();
    // "minus": the selected targets removed in one change; the selection becomes empty.
    void remove(const std::set<std::string>& ids);
    // A drag of the rows at `sources` to before the row at `destination` (the end when it is the
    // count), applied to the published list as one change, then stored.
    void move(const std::set<std::size_t>& sources, std::size_t destination);
    // Each time the window shows: the tmux panes are listed again, in the background.
    void appear();
    // The editor's view of one saved target.
    TargetBinding binding(const QuibTarget& target) const;

    // The window, brought up; false (and nothing shown) when there is no display.
    bool open(const std::optional<std::string>& select = std::nullopt);
    void setOpener(Opener opener) { opener_ = std::move(opener); }

    // The target "plus" makes.
    static QuibTarget newTarget(std::string id);

    // The elements at the offsets `sources`, in their order, moved to before the element that
    // stood at `destination` (at the end when it is the count); the others keep their order.
    // Offsets past the end are ignored.
    template <class T>
    static std::vector<T> applyMove(std::vector<T> list, const std::set<std::size_t>& sources,
                                    std::size_t destination) {
        std::vector<T> moved;
        std::vector<T> before;
        std::vector<T> after;
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (sources.contains(i)) moved.push_back(std::move(list[i]));
            else if (i < destination) before.push_back(std::move(list[i]));
            else after.push_back(std::move(list[i]));
        }
        before.insert(before.end(), std::make_move_iterator(moved.begin()), std::make_move_iterator(moved.end()));
        before.insert(before.end(), std::make_move_iterator(after.begin()), std::make_move_iterator(after.end()));
        return before;
    }

private:
    Config config_;
    Opener opener_;
};

}  // namespace quib
