#pragma once

#include <cstddef>
#include <functional>
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
    virtual std::vector<MacApp> suggestions(bool refresh, const std::set<std::string>& alreadyTargeted,
                                            std::size_t limit) = 0;
    // One row with its icon for each bundle identifier that names an installed app, handed to
    // `take` as soon as it is drawn; once `take` answers false, no more are drawn.
    using IconTaker = std::function<bool(MacApp row)>;
    virtual void icons(const std::vector<std::string>& bundleIDs, const IconTaker& take) = 0;
};

}  // namespace quib
