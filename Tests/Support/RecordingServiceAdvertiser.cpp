#include "Tests/Support/RecordingServiceAdvertiser.hpp"

namespace quib {

void RecordingServiceAdvertiser::advertise(const std::string& name, std::uint16_t port, const TxtRecord& txt) {
    std::lock_guard lock(mutex_);
    current_ = Advertisement{name, port, txt};
    history_.push_back(*current_);
}

void RecordingServiceAdvertiser::withdraw() {
    std::lock_guard lock(mutex_);
    current_.reset();
    ++withdrawCount_;
}

std::optional<RecordingServiceAdvertiser::Advertisement> RecordingServiceAdvertiser::current() const {
    std::lock_guard lock(mutex_);
    return current_;
}

std::vector<RecordingServiceAdvertiser::Advertisement> RecordingServiceAdvertiser::history() const {
    std::lock_guard lock(mutex_);
    return history_;
}

int RecordingServiceAdvertiser::withdrawCount() const {
    std::lock_guard lock(mutex_);
    return withdrawCount_;
}

}  // namespace quib
