#include "QuibHost/Streaming/ScreenAccess.hpp"

#include "Runtime/Logger.hpp"
#include "Runtime/Required.hpp"

namespace quib {

ScreenAccess::ScreenAccess(std::shared_ptr<Permissions> permissions)
    : permissions_(required(std::move(permissions), "ScreenAccess", "permissions")) {}

bool ScreenAccess::isGranted() const { return permissions_->screenRecordingGranted(); }

// The flag is tested and set under the lock; the request itself is made outside it.
void ScreenAccess::requestOnceIfNeeded() {
    if (isGranted()) return;
    {
        MutexLock lock(requestedOnce_);
        if (hasRequested_) return;
        hasRequested_ = true;
    }
    quibLog().info("view: asking for window capture");
    request();
}

void ScreenAccess::openSettings() { request(); }

void ScreenAccess::request() const {
    quibLog().info("view: window capture: ", pub(permissions_->screenRecordingHelp()));
}

}  // namespace quib
