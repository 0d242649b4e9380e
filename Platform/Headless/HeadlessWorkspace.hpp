#pragma once

#include <memory>

#include "Platform/Freedesktop/DesktopEntries.hpp"
#include "Platform/Permissions.hpp"
#include "Platform/Workspace.hpp"

namespace quib {

// The applications of a machine without a display: installed ones come from the desktop
// entries, nothing runs, and nothing can be activated or launched, since there is no display
// to show them on. A launch is refused with the same sentence as every other input the host
// cannot post there.
class HeadlessWorkspace final : public Workspace {
public:
    // Reads `apps`; none: the desktop's standard application folders.
    explicit HeadlessWorkspace(std::shared_ptr<DesktopEntries> apps = nullptr)
        : apps_(apps ? std::move(apps) : std::make_shared<DesktopEntries>()) {}

    bool isInstalled(const std::string& bundleID) override { return apps_->application(bundleID).has_value(); }
    std::vector<RunningApp> runningInstances(const std::string&) override { return {}; }
    bool activate(const RunningApp&) override { return false; }
    Result<void> launch(const std::string&) override { return fail(std::string(Permissions::accessibilityRefusal)); }
    std::optional<RunningApp> frontmostApp() override { return std::nullopt; }
    std::vector<ListedApp> runningApps() override { return {}; }

private:
    std::shared_ptr<DesktopEntries> apps_;
};

}  // namespace quib
