#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Platform/Workspace.hpp"

namespace quib::testing {

// The apps a test says are running, in its order; nothing is installed, launched or raised.
class FixedWorkspace final : public Workspace {
public:
    bool isInstalled(const std::string&) override { return false; }
    std::vector<RunningApp> runningInstances(const std::string&) override { return {}; }
    bool activate(const RunningApp&) override { return false; }
    Result<void> launch(const std::string&) override { return fail("Nothing can be launched here"); }
    std::optional<RunningApp> frontmostApp() override { return std::nullopt; }
    std::vector<ListedApp> runningApps() override { return running; }

    std::vector<ListedApp> running;
};

}  // namespace quib::testing
