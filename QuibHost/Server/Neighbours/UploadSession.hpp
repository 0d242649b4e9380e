#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "Shared/AttachmentManifest.hpp"

namespace quib {

// One received image, written to the inbox.
struct UploadAttachment {
    std::filesystem::path file;
    std::string format;
    bool operator==(const UploadAttachment&) const = default;
};

// What feeding bytes to an upload gave.
struct UploadProgress {
    enum class Kind { waiting, refused, complete };
    Kind kind = Kind::waiting;
    std::string message;                       // refused: a sentence for the user
    std::vector<UploadAttachment> attachments;  // complete: in index order
};

// One phone upload on one connection: it reads the attachment frames that follow the upload
// hello. Used on the server's network queue only.
class UploadSession {
public:
    virtual ~UploadSession() = default;
    virtual const AttachmentManifest& manifest() const = 0;
    virtual const std::string& batchID() const = 0;
    // Feeds received bytes; once the upload is over every call answers waiting and does nothing.
    virtual UploadProgress append(std::string_view bytes) = 0;
    virtual bool isOver() const = 0;
    virtual void markOver() = 0;
    // Deletes every image this upload has written.
    virtual void discard() = 0;
};

}  // namespace quib
