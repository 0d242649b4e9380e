#pragma once

#include <string>
#include <string_view>

#include "Shared/MenuProfilePayload.hpp"

namespace quib {

// What the dispatch asks of the menu catalog. Called on the server's menu queue, one request at a
// time.
class MenuCatalogService {
public:
    // The label of that queue: the server makes it so, and the catalog asserts it is on it.
    static constexpr std::string_view queueLabel = "com.brenmoor.quib.host.menu";

    virtual ~MenuCatalogService() = default;
    // The shortcut profile read from the app's menu bar, or why there is none; `refresh` asks
    // for a fresh read instead of a cached one.
    virtual MenuProfilePayload profile(const std::string& bundleID, bool refresh) = 0;
};

}  // namespace quib
