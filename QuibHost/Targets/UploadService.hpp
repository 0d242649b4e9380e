#pragma once

#include <memory>
#include <optional>
#include <string>

#include "QuibHost/Targets/UploadSession.hpp"
#include "Shared/AttachmentManifest.hpp"

namespace quib {

// What the connection server asks of uploads: whether a hello may start one, a session for each
// accepted hello, and tidying the inbox after a delivery.
class UploadService {
public:
    virtual ~UploadService() = default;
    // None when the upload may go ahead, else the sentence that refuses it.
    virtual std::optional<std::string> refusal(const AttachmentManifest& manifest) const = 0;
    virtual std::shared_ptr<UploadSession> open(AttachmentManifest manifest, std::string batchID) = 0;
    // Removes old images from the inbox (any thread).
    virtual void prune() = 0;
};

}  // namespace quib
