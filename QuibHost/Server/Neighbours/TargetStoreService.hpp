#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Platform/Published.hpp"
#include "Shared/QuibTarget.hpp"

namespace quib {

// What the connection server reads of the target store: the published lists it watches for
// broadcasts, and the lock-guarded snapshots that readers off the main executor use.
class TargetStoreService {
public:
    virtual ~TargetStoreService() = default;

    // Main executor: each announces every new value to its subscribers.
    virtual Published<std::vector<QuibTarget>>& targets() = 0;
    virtual Published<std::vector<QuibTarget>>& provisionalTargets() = 0;
    virtual Published<std::optional<std::string>>& activeTargetID() = 0;
    virtual Published<std::set<std::string>>& unresolvedTargetIDs() = 0;

    // Any thread: copies taken under the store's snapshot lock.
    struct Snapshot {
        std::vector<QuibTarget> saved;
        std::vector<QuibTarget> provisional;
    };
    virtual Snapshot snapshot() const = 0;
    virtual std::optional<std::string> activeSnapshot() const = 0;
    virtual std::set<std::string> unresolvedSnapshot() const = 0;
    // The saved target, else the provisional one (adopted into the saved list), with this id.
    virtual std::optional<QuibTarget> safeTarget(const std::string& id) = 0;
    virtual std::optional<QuibTarget> safeActiveTarget() = 0;
    // Main executor: recomputes the targets the host proposes.
    virtual void refreshProvisional() = 0;
};

}  // namespace quib
