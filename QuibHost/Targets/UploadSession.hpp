#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "QuibHost/Targets/AttachmentInbox.hpp"
#include "QuibHost/Targets/UploadAttachment.hpp"
#include "Shared/AttachmentFrame.hpp"
#include "Shared/AttachmentManifest.hpp"
#include "Shared/LengthPrefixedStreamer.hpp"

namespace quib {

// The host side of one upload connection: it cuts the bytes after the upload hello into frames,
// checks each frame's index, writes each image into the inbox as a hidden temporary as its bytes
// arrive and, once every image of the batch is stored, gives them their final names and hands
// them back in index order. A frame is judged only once it is whole, so a refusal comes in the
// order of the frames. A refused or abandoned upload deletes the files it wrote. Touched only on
// the server's network queue, so it has no lock.
class UploadSession : private LengthPrefixedStreamer::Sink {
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
    // The frame whose bytes are arriving: its header decoded, and either the file it goes to or
    // the message that will refuse it once it is whole.
    struct Arriving {
        AttachmentFrame header;
        std::optional<AttachmentInbox::Incoming> file;
        std::optional<std::string> refusal;
    };

    void begin(std::string_view header, std::uint32_t payloadLength) override;
    void payload(std::string_view piece) override;
    bool end() override;
    // The message that refuses a frame before its bytes are looked at, else its open file.
    std::variant<AttachmentInbox::Incoming, std::string> open(const AttachmentFrame& header,
                                                              std::uint32_t payloadLength);
    Progress refuse(std::string message);
    // Deletes every stored image and the one arriving, ignoring failures.
    void discard();

    AttachmentManifest manifest_;
    std::string batchID_;
    std::shared_ptr<AttachmentInbox> inbox_;
    LengthPrefixedStreamer reader_;
    std::optional<Arriving> arriving_;    // none between frames, and for a header that did not decode
    std::optional<std::string> refusal_;  // what refused a frame of the chunk at hand
    std::map<std::int64_t, UploadAttachment> written_;
    bool isOver_ = false;
};

}  // namespace quib
