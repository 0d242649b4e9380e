#pragma once

#include <mutex>
#include <vector>

#include "QuibHost/Server/Neighbours/UploadService.hpp"

namespace quib {

// Stands in for the upload reader until it exists: every upload is let through, and each
// session keeps every byte it is given, writes nothing and waits for ever.
class BufferingUploadService final : public UploadService {
public:
    class Session final : public UploadSession {
    public:
        Session(AttachmentManifest manifest, std::string batchID);
        const AttachmentManifest& manifest() const override { return manifest_; }
        const std::string& batchID() const override { return batchID_; }
        UploadProgress append(std::string_view bytes) override;
        bool isOver() const override;
        void markOver() override;
        void discard() override;

        // Every byte received so far, in order; and whether discard() was called.
        std::string received() const;
        bool wasDiscarded() const;

    private:
        AttachmentManifest manifest_;
        std::string batchID_;
        mutable std::mutex mutex_;
        std::string received_;
        bool over_ = false;
        bool discarded_ = false;
    };

    std::optional<std::string> refusal(const AttachmentManifest&) const override { return std::nullopt; }
    std::shared_ptr<UploadSession> open(AttachmentManifest manifest, std::string batchID) override;

    // Every session opened so far, oldest first.
    std::vector<std::shared_ptr<Session>> sessions() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Session>> sessions_;
};

}  // namespace quib
