#pragma once

#include <functional>
#include <optional>
#include <string>

#include "Shared/QuibTarget.hpp"

namespace quib {

// The one saved target an editor changes: reading gives its current version, writing stores a
// whole new version and gives why it was refused, or none.
struct TargetEditorBinding {
    std::function<QuibTarget()> read;
    std::function<std::optional<std::string>(QuibTarget)> write;
};

}  // namespace quib
