#pragma once

#include <cstdint>

namespace quib {

// Limits of the upload channel, shared with the phone.
struct UploadChannel {
    // The largest image an upload may carry, and the cap of the host's upload frame reader.
    static constexpr std::int64_t maxAttachmentBytes = 26214400;  // 25 MiB
    static constexpr std::int64_t maxAttachments = 8;
    // The largest accepted width and height of an uploaded image, in pixels (8000 itself is allowed).
    static constexpr std::int64_t maxPixelsPerSide = 8000;
};

}  // namespace quib
