#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Platform/Freedesktop/DesktopEntries.hpp"
#include "QuibHost/Targets/TargetStore.hpp"

namespace quib {

// The saved targets a new or edited target is checked against, gathered in one pass so that a
// batch of additions costs no more than one pass over the list: the names by their caseless
// keys, the panes with the name of the target holding each, the count, the stored list's size,
// and the installed apps, read once at the first app target. Main executor.
class TargetStore::Checks {
public:
    // `others` are the saved targets other than the one being edited; `bytes`, the size of
    // their stored list.
    Checks(const DesktopEntries& apps, const std::vector<const QuibTarget*>& others, std::size_t bytes);

    // Why the target may not join the others (or, not `isAddition`, replace its older version
    // among them), or none: the limits first, then the rules of what a target needs and may not
    // share, then the room left.
    std::optional<std::string> refusal(const QuibTarget& target, bool isAddition);
    // The limits and the room alone.
    std::optional<std::string> limitRefusal(const QuibTarget& target, bool isAddition) const;
    // The target has joined the others.
    void take(const QuibTarget& target);

private:
    void count(const QuibTarget& target);
    std::optional<std::string> kindRefusal(const QuibTarget& target, bool isAddition);
    std::optional<std::string> roomRefusal(const QuibTarget& target, bool isAddition) const;

    const DesktopEntries& apps_;
    std::optional<std::vector<DesktopEntry>> installed_;
    std::set<std::string> names_;
    std::map<std::string, std::string> panes_;  // pane: the name of the tmux target holding it
    std::size_t count_ = 0;
    std::size_t bytes_ = 0;
};

}  // namespace quib
