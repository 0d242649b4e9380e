#pragma once

#include <memory>
#include <optional>
#include <string>

#include "QuibHost/Targets/TargetStoreService.hpp"
#include "Shared/QuibTarget.hpp"

namespace quib {

// One saved target as the settings window's editor sees it: reading gives the store's current
// version (a phone's edit included), or the copy taken when the binding was made once the store
// has none; writing stores the whole new value. The editor keeps no copy of its own. Main
// executor only.
class TargetBinding {
public:
    TargetBinding(std::shared_ptr<TargetStoreService> store, QuibTarget target);

    const std::string& id() const { return copy_.id; }
    QuibTarget value() const;
    // Stores `target` under the binding's id. A target that has left the store stays gone: the
    // write is dropped (and logged, once per binding). Why the write was not stored, or none.
    std::optional<std::string> set(QuibTarget target);

private:
    std::shared_ptr<TargetStoreService> store_;
    QuibTarget copy_;
    bool droppedLogged_ = false;
};

}  // namespace quib
