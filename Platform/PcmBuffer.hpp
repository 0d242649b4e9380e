#pragma once

#include <cstdint>
#include <span>

#include "Platform/PcmFormat.hpp"

namespace quib {

// A view of PCM that someone else owns: `frames` frames in `format`, one pointer per plane
// (`format.planeCount()` of them). Valid only as long as its owner says; nothing is copied.
struct PcmBuffer {
    PcmFormat format;
    std::int64_t frames = 0;
    std::span<const std::uint8_t* const> planes;

    // The format is valid, the planes are all there and the frames are not negative.
    bool isUsable() const {
        if (!format.isValid() || frames < 0 || planes.size() != static_cast<std::size_t>(format.planeCount()))
            return false;
        for (const auto* plane : planes)
            if (plane == nullptr && frames > 0) return false;
        return true;
    }
};

}  // namespace quib
