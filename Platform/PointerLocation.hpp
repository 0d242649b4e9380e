#pragma once

#include "Runtime/Geometry.hpp"

namespace quib {

// Where the pointer is now, in global display coordinates (fractional where the desktop keeps
// fractions); (0, 0) when the desktop cannot say. Quick, and safe on any thread.
class PointerLocation {
public:
    virtual ~PointerLocation() = default;
    virtual Point pointerLocation() = 0;
};

}  // namespace quib
