#pragma once

#include "QuibHost/Server/Neighbours/MenuCatalogService.hpp"

namespace quib {

// Stands in for the menu catalog until it exists: no app's menu bar can be read.
class UnreadableMenuCatalog final : public MenuCatalogService {
public:
    MenuProfilePayload profile(const std::string& bundleID, bool) override {
        return {bundleID, MenuProfilePayload::Outcome::unreadable, std::nullopt, ""};
    }
};

}  // namespace quib
