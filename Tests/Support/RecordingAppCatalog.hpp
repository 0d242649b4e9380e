#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "QuibHost/Apps/AppCatalogService.hpp"

namespace quib::testing {

// Knows the apps the test sets; remembers what each suggestion request excluded and its limit,
// and whether each asked for a fresh scan; counts the icons it hands out.
// A neighbour of the server for tests; its state is under a lock of its own, since the server calls
// it from the network queue and the main loop.
class RecordingAppCatalog final : public AppCatalogService {
public:
    std::vector<MacApp> suggestions(bool refresh, const std::set<std::string>& alreadyTargeted,
                                    std::size_t limit) override {
        std::lock_guard lock(mutex_);
        refreshes_.push_back(refresh);
        excluded_ = alreadyTargeted;
        limit_ = limit;
        return apps_;
    }
    void icons(const std::vector<std::string>& bundleIDs, const IconTaker& take) override {
        std::vector<MacApp> apps;
        {
            std::lock_guard lock(mutex_);
            apps = apps_;
        }
        for (const auto& app : apps) {
            if (std::find(bundleIDs.begin(), bundleIDs.end(), app.bundleID) == bundleIDs.end()) continue;
            ++iconsDrawn;
            if (!take(app)) return;
        }
    }
    std::atomic<std::size_t> iconsDrawn = 0;
    void setApps(std::vector<MacApp> apps) {
        std::lock_guard lock(mutex_);
        apps_ = std::move(apps);
    }
    std::set<std::string> excluded() const {
        std::lock_guard lock(mutex_);
        return excluded_;
    }
    std::size_t limit() const {
        std::lock_guard lock(mutex_);
        return limit_;
    }
    std::vector<bool> refreshes() const {
        std::lock_guard lock(mutex_);
        return refreshes_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<MacApp> apps_;
    std::set<std::string> excluded_;
    std::size_t limit_ = 0;
    std::vector<bool> refreshes_;
};

}  // namespace quib::testing
