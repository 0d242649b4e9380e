#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "QuibHost/Targets/AttachmentInbox.hpp"
#include "QuibHost/Targets/UploadAttachment.hpp"
#include "Shared/AttachmentFrame.hpp"
#include "Shared/AttachmentManifest.hpp"

namespace quib {

// The host side of one upload connection: it cuts the bytes after the upload hello into frames,
// checks each frame's index, stores each image in the inbox as a hidden temporary and, once every
// image of the batch is stored, gives them their final names and hands them back in index order.
// A refused or abandoned upload deletes the files it wrote. Touched only on the server's network
// queue, so it has no lock.
class UploadSession {
public:
    // What feeding bytes gave.
    struct Progress {
        enum class Kind { waiting, complete, refused };
        Kind kind = Kind::waiting;
        std::vector<UploadAttachment> attachments{};  // complete: indexes 0 to count - 1, in order
        std::string message{};                        // refused: the sentence for the phone

        bool operator==(const Progress&) const = default;
    };

    // The sentence that refuses an upload hello, or none when the upload may start: the
    // protocol version, then the count, then the targets.
    static std::optional<std::string> refusal(const AttachmentManifest& manifest);

    UploadSession(AttachmentManifest manifest, std::string batchID, std::shared_ptr<AttachmentInbox> inbox);
    UploadSession(const UploadSession&) = delete;
    UploadSession& operator=(const UploadSession&) = delete;

    const AttachmentManifest& manifest() const { return manifest_; }
    const std::string& batchID() const { return batchID_; }
    bool isOver() const { return isOver_; }
    // How many images have arrived whole and are stored.
    std::size_t storedCount() const { return written_.size(); }

    // Feeds one received chunk. Every frame of the chunk is looked at before completion is
    // judged; the first bad one ends the upload. Once over, every call answers waiting.
    // Frames the reader cannot decode never arrive, so the upload then waits for ever.
    Progress append(std::string_view bytes);

    // Ends an unfinished upload from outside (its connection ended), deleting what it stored.
    void abandon();

private:
    // The message that refuses this frame, or none once its image is stored.
    std::optional<std::string> take(AttachmentFrameReader::Frame& frame);
    Progress refuse(std::string message);
    // Deletes every stored image, ignoring failures.
    void discard();

    AttachmentManifest manifest_;
    std::string batchID_;
    std::shared_ptr<AttachmentInbox> inbox_;
    AttachmentFrameReader reader_;
    std::map<std::int64_t, UploadAttachment> written_;
    bool isOver_ = false;
};

}  // namespace quib
