#pragma once

#include <cstddef>
#include <vector>

#include "Shared/QuibTarget.hpp"

namespace quib {

// Where the target store's first app targets come from.
class AppSeeds {
public:
    virtual ~AppSeeds() = default;
    // At most `limit` new app targets for installed well-known apps, best first, each with a
    // fresh id. Blocking: it reads the desktop, so it belongs on a background queue.
    virtual std::vector<QuibTarget> seeds(std::size_t limit) = 0;
};

}  // namespace quib
