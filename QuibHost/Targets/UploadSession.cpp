#include "QuibHost/Targets/UploadSession.hpp"

#include <unistd.h>

#include "Runtime/HostWords.hpp"
#include "Shared/QuibProtocol.hpp"
#include "Shared/UploadChannel.hpp"

namespace quib {

std::optional<std::string> UploadSession::refusal(const AttachmentManifest& manifest) {
    if (!QuibProtocol::supports(manifest.protocolVersion)) {
        return "That phone speaks protocol " + std::to_string(manifest.protocolVersion) + "; " +
               HostWords::thisComputer.str() + " speaks " + std::to_string(QuibProtocol::version);
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
    reader_.append(bytes, *this);
    if (refusal_) return refuse(*std::exchange(refusal_, std::nullopt));
    if (static_cast<std::int64_t>(written_.size()) != manifest_.count) return {};
    // Only a whole batch takes its final names.
    for (auto& [index, attachment] : written_) {
        auto placed = inbox_->place(attachment.file);
        if (const auto* refused = std::get_if<AttachmentInbox::Refusal>(&placed)) return refuse(refused->message());
        attachment.file = std::get<std::filesystem::path>(std::move(placed));
    }
    isOver_ = true;
    arriving_.reset();
    Progress complete{.kind = Progress::Kind::complete};
    for (auto& [index, attachment] : written_) complete.attachments.push_back(attachment);
    return complete;
}

// A header that does not decode drops its frame without a word.
void UploadSession::begin(std::string_view header, std::uint32_t payloadLength) {
    auto decoded = QuibCoder::decode<AttachmentFrame>(header);
    if (!decoded) return;
    Arriving arriving{.header = *decoded, .file = std::nullopt, .refusal = std::nullopt};
    auto opened = open(*decoded, payloadLength);
    if (auto* file = std::get_if<AttachmentInbox::Incoming>(&opened)) arriving.file = std::move(*file);
    else arriving.refusal = std::get<std::string>(std::move(opened));
    arriving_ = std::move(arriving);
}

std::variant<AttachmentInbox::Incoming, std::string> UploadSession::open(const AttachmentFrame& header,
                                                                         std::uint32_t payloadLength) {
    const std::int64_t index = header.index;
    const std::string number = AttachmentInbox::countedFromOne(index);
    if (index < 0 || index >= manifest_.count) {
        return "Attachment " + number + " isn't part of a batch of " + std::to_string(manifest_.count);
    }
    if (written_.contains(index)) return "Attachment " + number + " arrived twice";
    auto opened = inbox_->open(header, payloadLength);
    if (auto* refused = std::get_if<AttachmentInbox::Refusal>(&opened)) return refused->message();
    return std::get<AttachmentInbox::Incoming>(std::move(opened));
}

void UploadSession::payload(std::string_view piece) {
    if (arriving_ && arriving_->file) arriving_->file->write(piece);
}

bool UploadSession::end() {
    if (!arriving_) return true;
    Arriving arriving = std::move(*arriving_);
    arriving_.reset();
    if (arriving.refusal) {
        refusal_ = std::move(arriving.refusal);
        return false;
    }
    auto stored = inbox_->finish(std::move(*arriving.file));
    if (const auto* refused = std::get_if<AttachmentInbox::Refusal>(&stored)) {
        refusal_ = refused->message();
        return false;
    }
    written_.emplace(arriving.header.index,
                     UploadAttachment{std::get<std::filesystem::path>(std::move(stored)), arriving.header.format});
    return true;
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
    arriving_.reset();
    for (const auto& [index, attachment] : written_) ::unlink(attachment.file.c_str());
    written_.clear();
}

}  // namespace quib
