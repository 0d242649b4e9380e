#pragma once

#include <memory>
#include <optional>
#include <string>

#include "QuibHost/Server/Neighbours/UploadSession.hpp"

namespace quib {

// Opens uploads for upload hellos.
class UploadService {
public:
    virtual ~UploadService() = default;
    // None when the upload may go ahead, else the sentence that refuses it.
    virtual std::optional<std::string> refusal(const AttachmentManifest& manifest) const = 0;
    virtual std::shared_ptr<UploadSession> open(AttachmentManifest manifest, std::string batchID) = 0;
};

}  // namespace quib
