#pragma once

#include <set>

#include "Shared/MouseButton.hpp"

namespace quib {

// What the connection server asks of the event injector when connections end or it stops.
// Every operation is safe on any thread.
class EventInjectorService {
public:
    virtual ~EventInjectorService() = default;

    // Releases every mouse button the injector holds down.
    virtual void releaseAllButtons() = 0;
    // Releases those of `buttons` that the injector holds down; others are ignored.
    virtual void release(const std::set<MouseButton>& buttons) = 0;
    // Puts the scroll-gesture phase state back to its initial value, under the state lock.
    virtual void resetScrollPhase() = 0;
};

}  // namespace quib
