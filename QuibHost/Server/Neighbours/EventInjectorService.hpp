#pragma once

#include <set>

#include "Shared/MouseButton.hpp"

namespace quib {

// What the connection server asks of the event injector: its pause and trust flags for the host
// status, and letting go of input when connections end or it stops. Every operation is safe on
// any thread; the flags are read under the injector's state lock.
class EventInjectorService {
public:
    virtual ~EventInjectorService() = default;

    // Releases every mouse button the injector holds down.
    virtual void releaseAllButtons() = 0;
    // Releases those of `buttons` that the injector holds down; others are ignored.
    virtual void release(const std::set<MouseButton>& buttons) = 0;
    // Puts the scroll-gesture phase state back to its initial value, under the state lock.
    virtual void resetScrollPhase() = 0;

    // While paused, pointer, scroll and click input does nothing.
    virtual bool isPaused() const = 0;
    virtual void setPaused(bool paused) = 0;
    // The desktop's input interface refused the process at the last trust check.
    virtual bool apiDisabled() const = 0;
    // Asks the desktop for its focused element, which refreshes `apiDisabled`; then answers whether
    // input can be posted: the process is trusted (`processTrusted`) and the interface not disabled.
    virtual bool revalidateTrust(bool processTrusted) = 0;
};

}  // namespace quib
