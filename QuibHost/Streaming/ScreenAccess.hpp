#pragma once

#include <memory>

#include "Platform/Permissions.hpp"
#include "Runtime/HostWords.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {

// The host's one way to check for and ask for the right to capture the screen, shared by window
// capture, still screenshots, system audio capture and the panel's banner. The desktop is asked
// at most once per run, by whichever of them needs it first. A Linux desktop has no consent to
// ask for: asking writes to the log what the host lacks to capture and what would give it.
//
// The host makes one for the process. Safe on any thread.
class ScreenAccess {
public:
    // What a viewer or a listener is told while capture is not granted.
    static constexpr std::string_view grantText =
        said<"Give ", HostWords::product, " ", HostWords::captureNeed, ", then ", HostWords::restart, " it">;

    // Whether capture is granted comes from `permissions`; none: it never is.
    explicit ScreenAccess(std::shared_ptr<Permissions> permissions);

    // Quick, and never asks.
    bool isGranted() const;
    // When capture is not granted, asks for it, unless it was asked for already in this run.
    void requestOnceIfNeeded();
    // Asks for capture every time, and says where it is given.
    void openSettings();

private:
    void request() const;

    std::shared_ptr<Permissions> permissions_;
    Mutex requestedOnce_;  // guards hasRequested_
    bool hasRequested_ GUARDED_BY(requestedOnce_) = false;
};

}  // namespace quib
