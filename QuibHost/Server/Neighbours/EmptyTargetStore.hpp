#pragma once

#include <memory>

#include "QuibHost/Server/Neighbours/TargetStoreService.hpp"

namespace quib {

// Stands in for the target store until it exists: no targets, none active.
class EmptyTargetStore final : public TargetStoreService {
public:
    explicit EmptyTargetStore(std::shared_ptr<Executor> main);

    Published<std::vector<QuibTarget>>& targets() override { return targets_; }
    Published<std::vector<QuibTarget>>& provisionalTargets() override { return provisional_; }
    Published<std::optional<std::string>>& activeTargetID() override { return active_; }
    Published<std::set<std::string>>& unresolvedTargetIDs() override { return unresolved_; }

    Snapshot snapshot() const override { return {}; }
    std::optional<std::string> activeSnapshot() const override { return std::nullopt; }
    std::set<std::string> unresolvedSnapshot() const override { return {}; }
    std::optional<QuibTarget> safeTarget(const std::string&) override { return std::nullopt; }
    std::optional<QuibTarget> safeActiveTarget() override { return std::nullopt; }
    void refreshProvisional() override {}

private:
    Published<std::vector<QuibTarget>> targets_;
    Published<std::vector<QuibTarget>> provisional_;
    Published<std::optional<std::string>> active_;
    Published<std::set<std::string>> unresolved_;
};

}  // namespace quib
