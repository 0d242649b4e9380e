#pragma once

#include <memory>

#include "QuibHost/Targets/AttachmentInbox.hpp"
#include "QuibHost/Targets/UploadService.hpp"

namespace quib {

// Uploads into one attachment inbox.
class AttachmentReceiver final : public UploadService {
public:
    explicit AttachmentReceiver(std::shared_ptr<AttachmentInbox> inbox) : inbox_(std::move(inbox)) {}

    std::optional<std::string> refusal(const AttachmentManifest& manifest) const override {
        return UploadSession::refusal(manifest);
    }
    std::shared_ptr<UploadSession> open(AttachmentManifest manifest, std::string batchID) override {
        return std::make_shared<UploadSession>(std::move(manifest), std::move(batchID), inbox_);
    }
    void prune() override { inbox_->prune(); }

    const std::shared_ptr<AttachmentInbox>& inbox() const { return inbox_; }

private:
    std::shared_ptr<AttachmentInbox> inbox_;
};

}  // namespace quib
