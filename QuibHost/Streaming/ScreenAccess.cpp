#include "QuibHost/Streaming/ScreenAccess.hpp"

#include "Runtime/Logger.hpp"

namespace quib {

ScreenAccess::ScreenAccess(std::shared_ptr<Permissions> permissions) : permissions_(std::move(permissions)) {}

bool ScreenAccess::isGranted() const { return permissions_ && permissions_->screenRecordingGranted(); }

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
    if (!permissions_) return quibLog().info("view: window capture: there is no display to capture");
    quibLog().info("view: window capture: ", pub(permissions_->screenRecordingHelp()));
}

}  // namespace quib
