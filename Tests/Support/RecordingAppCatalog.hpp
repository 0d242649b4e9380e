#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "QuibHost/Apps/AppCatalogService.hpp"
#include "Runtime/Mutex.hpp"

namespace quib::testing {

// Knows the apps the test sets; remembers what each suggestion request excluded and its limit,
// and whether each asked for a fresh scan; counts the icons it hands out.
// A neighbour of the server for tests; its state is under a lock of its own, since the server calls
// it from the network queue and the main loop.
class RecordingAppCatalog final : public AppCatalogService {
public:
    std::vector<MacApp> suggestions(bool refresh, const std::set<std::string>& alreadyTargeted,
                                    std::size_t limit) override {
        MutexLock lock(mutex_);
        refreshes_.push_back(refresh);
        excluded_ = alreadyTargeted;
        limit_ = limit;
        return apps_;
    }
    void icons(const std::vector<std::string>& bundleIDs, const IconTaker& take) override {
        std::vector<MacApp> apps;
        {
            MutexLock lock(mutex_);
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
        MutexLock lock(mutex_);
        apps_ = std::move(apps);
    }
    std::set<std::string> excluded() const {
        MutexLock lock(mutex_);
        return excluded_;
    }
    std::size_t limit() const {
        MutexLock lock(mutex_);
        return limit_;
    }
    std::vector<bool> refreshes() const {
        MutexLock lock(mutex_);
        return refreshes_;
    }

private:
    mutable Mutex mutex_;
    std::vector<MacApp> apps_ GUARDED_BY(mutex_);
    std::set<std::string> excluded_ GUARDED_BY(mutex_);
    std::size_t limit_ GUARDED_BY(mutex_) = 0;
    std::vector<bool> refreshes_ GUARDED_BY(mutex_);
};

}  // namespace quib::testing
