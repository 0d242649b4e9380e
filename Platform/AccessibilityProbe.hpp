#pragma once

#include <cstdint>

namespace quib {

// Asks the desktop's accessibility interface for the focused element, to learn whether that
// interface serves the host at all. Safe on any thread.
class AccessibilityProbe {
public:
    static constexpr std::int32_t success = 0;
    // The desktop could not answer (nothing to ask, or no focused element).
    static constexpr std::int32_t cannotComplete = -25204;
    // The accessibility interface is switched off for this process.
    static constexpr std::int32_t apiDisabled = -25211;

    virtual ~AccessibilityProbe() = default;
    // The error code of the focused-element query: `success` or one of the codes above.
    virtual std::int32_t focusedElementError() = 0;
};

}  // namespace quib
