#include "QuibHost/Server/Neighbours/BufferingUploadService.hpp"

namespace quib {

BufferingUploadService::Session::Session(AttachmentManifest manifest, std::string batchID)
    : manifest_(std::move(manifest)), batchID_(std::move(batchID)) {}

UploadProgress BufferingUploadService::Session::append(std::string_view bytes) {
    std::lock_guard lock(mutex_);
    if (!over_) received_.append(bytes);
    return {};
}

bool BufferingUploadService::Session::isOver() const {
    std::lock_guard lock(mutex_);
    return over_;
}

void BufferingUploadService::Session::markOver() {
    std::lock_guard lock(mutex_);
    over_ = true;
}

void BufferingUploadService::Session::discard() {
    std::lock_guard lock(mutex_);
    discarded_ = true;
}

std::string BufferingUploadService::Session::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

bool BufferingUploadService::Session::wasDiscarded() const {
    std::lock_guard lock(mutex_);
    return discarded_;
}

std::shared_ptr<UploadSession> BufferingUploadService::open(AttachmentManifest manifest, std::string batchID) {
    auto session = std::make_shared<Session>(std::move(manifest), std::move(batchID));
    std::lock_guard lock(mutex_);
    sessions_.push_back(session);
    return session;
}

std::vector<std::shared_ptr<BufferingUploadService::Session>> BufferingUploadService::sessions() const {
    std::lock_guard lock(mutex_);
    return sessions_;
}

}  // namespace quib
