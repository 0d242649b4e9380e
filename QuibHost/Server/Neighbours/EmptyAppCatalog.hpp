#pragma once

#include "QuibHost/Server/Neighbours/AppCatalogService.hpp"

namespace quib {

// Stands in for the app catalog until it exists: it knows no apps and no icons.
class EmptyAppCatalog final : public AppCatalogService {
public:
    std::vector<MacApp> suggestions(bool, const std::set<std::string>&, std::size_t) override { return {}; }
    std::vector<MacApp> icons(const std::vector<std::string>&) override { return {}; }
};

}  // namespace quib
