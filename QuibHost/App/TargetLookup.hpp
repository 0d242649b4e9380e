#pragma once

#include <string>
#include <vector>

#include "QuibHost/Targets/TargetStoreService.hpp"
#include "Runtime/Result.hpp"
#include "Shared/QuibTarget.hpp"

namespace quib {

// Which saved target a person means by what they typed: its identifier, else its name, else a
// beginning of its identifier that no other saved target shares. A name or beginning that fits
// more than one target is refused with the identifiers that fit.
class TargetLookup {
public:
    static Result<QuibTarget> find(const std::vector<QuibTarget>& saved, const std::string& given);
    // The same among the store's saved targets, the one with that exact id first.
    static Result<QuibTarget> find(const TargetStoreService& store, const std::string& given);
};

}  // namespace quib
