#pragma once

#include <filesystem>

#include "Shared/AttachmentFrame.hpp"

namespace quib {

// One received image, stored in the attachment inbox and ready for delivery.
struct UploadAttachment {
    std::filesystem::path file;
    AttachmentFrame::Format format = AttachmentFrame::Format::png;
    bool operator==(const UploadAttachment&) const = default;
};

}  // namespace quib
