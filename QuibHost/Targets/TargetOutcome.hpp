#pragma once

#include <string>

namespace quib {

// The answer of an operation on a target that delivers nothing (focusing it, pressing keys in
// it): whether it worked, and a sentence for the user either way.
struct TargetOutcome {
    bool ok = false;
    std::string message;
    bool operator==(const TargetOutcome&) const = default;
};

}  // namespace quib
