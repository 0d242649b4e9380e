#pragma once

#include <set>
#include <string>

namespace quib {

// The applications the user has pinned to the desktop's dock or favourites bar.
class DockedApps {
public:
    virtual ~DockedApps() = default;

    // Their lower-cased desktop IDs ("org.gnome.terminal"), read afresh on each call; empty
    // when the desktop has none or they cannot be read. Any thread may ask.
    virtual std::set<std::string> dockedIDs() const = 0;
};

}  // namespace quib
