#pragma once

#include <string>

#include "Shared/MenuProfilePayload.hpp"

namespace quib {

// What the dispatch asks of the menu catalog. Called on the server's menu queue.
class MenuCatalogService {
public:
    virtual ~MenuCatalogService() = default;
    // The shortcut profile read from the app's menu bar, or why there is none; `refresh` asks
    // for a fresh read instead of a cached one.
    virtual MenuProfilePayload profile(const std::string& bundleID, bool refresh) = 0;
};

}  // namespace quib
