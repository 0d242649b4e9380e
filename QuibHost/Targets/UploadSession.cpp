#include "QuibHost/Targets/UploadSession.hpp"

#include <unistd.h>

#include "Shared/QuibProtocol.hpp"
#include "Shared/UploadChannel.hpp"

namespace quib {

std::optional<std::string> UploadSession::refusal(const AttachmentManifest& manifest) {
    if (!QuibProtocol::supports(manifest.protocolVersion)) {
        return "That phone speaks protocol " + std::to_string(manifest.protocolVersion) + "; this Mac speaks " +
               std::to_string(QuibProtocol::version);
    }
    if (manifest.count < 1) return "That upload has no attachments in it";
    if (manifest.count > UploadChannel::maxAttachments) {
        return std::to_string(manifest.count) + " attachments at once \u2014 the limit is " +
               std::to_string(UploadChannel::maxAttachments);
    }
    if (manifest.targetIDs.empty()) return "That upload names no target";
    return std::nullopt;
}

UploadSession::UploadSession(AttachmentManifest manifest, std::string batchID, std::shared_ptr<AttachmentInbox> inbox)
    : manifest_(std::move(manifest)),
      batchID_(std::move(batchID)),
      inbox_(std::move(inbox)),
      reader_(UploadChannel::maxAttachmentBytes) {}

UploadSession::Progress UploadSession::append(std::string_view bytes) {
    if (isOver_) return {};
    for (auto& frame : reader_.append(bytes)) {
        if (auto message = take(frame)) return refuse(std::move(*message));
    }
    if (static_cast<std::int64_t>(written_.size()) != manifest_.count) return {};
    // Only a whole batch takes its final names.
    for (auto& [index, attachment] : written_) {
        auto placed = inbox_->place(attachment.file);
        if (const auto* refused = std::get_if<AttachmentInbox::Refusal>(&placed)) return refuse(refused->message());
        attachment.file = std::get<std::filesystem::path>(std::move(placed));
    }
    isOver_ = true;
    Progress complete{.kind = Progress::Kind::complete};
    for (auto& [index, attachment] : written_) complete.attachments.push_back(attachment);
    return complete;
}

std::optional<std::string> UploadSession::take(AttachmentFrameReader::Frame& frame) {
    const std::int64_t index = frame.header.index;
    const std::string number = AttachmentInbox::countedFromOne(index);
    if (index < 0 || index >= manifest_.count) {
        return "Attachment " + number + " isn't part of a batch of " + std::to_string(manifest_.count);
    }
    if (written_.contains(index)) return "Attachment " + number + " arrived twice";
    auto written = inbox_->writeTemporary(frame.payload, frame.header);
    if (const auto* refused = std::get_if<AttachmentInbox::Refusal>(&written)) return refused->message();
    written_.emplace(index, UploadAttachment{std::get<std::filesystem::path>(std::move(written)), frame.header.format});
    return std::nullopt;
}

UploadSession::Progress UploadSession::refuse(std::string message) {
    isOver_ = true;
    discard();
    return {.kind = Progress::Kind::refused, .message = std::move(message)};
}

void UploadSession::abandon() {
    if (isOver_) return;
    isOver_ = true;
    discard();
}

void UploadSession::discard() {
    for (const auto& [index, attachment] : written_) ::unlink(attachment.file.c_str());
    written_.clear();
}

}  // namespace quib
