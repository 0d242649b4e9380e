#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "Shared/MacApp.hpp"

namespace quib {

// What the connection server asks of the app catalog, on its catalog queue.
class AppCatalogService {
public:
    virtual ~AppCatalogService() = default;
    // At most `limit` ranked apps; `refresh` asks for a fresh scan.
    virtual std::vector<MacApp> suggestions(bool refresh, const std::set<std::string>& alreadyTargeted, std::size_t limit) = 0;
    // One row with its icon for each bundle identifier that names an installed app.
    virtual std::vector<MacApp> icons(const std::vector<std::string>& bundleIDs) = 0;
};

}  // namespace quib
