#include "QuibHost/Streaming/VideoPacer.hpp"

#include <algorithm>

namespace quib {
namespace {

constexpr double cutSpacing = 0.35;  // seconds of deliveries between two cuts
constexpr double cutFactor = 0.72;
constexpr double goodputShare = 0.82;  // of the measured bits per second, when a cut follows it
constexpr double raiseFactor = 1.1;

// The integer part of a non-negative `value`, at most `limit` (which the value may exceed by far).
std::int64_t wholeAtMost(double value, std::int64_t limit) {
    if (!(value < static_cast<double>(limit))) return limit;
    return static_cast<std::int64_t>(value);
}

// Whether the move from `before` to `after` is worth re-applying to the encoder: an eighth or more.
bool worthApplying(std::int64_t before, std::int64_t after) {
    if (before == after) return false;
    const std::int64_t moved = after > before ? after - before : before - after;
    return moved >= before / 8 + (before % 8 != 0);
}

}  // namespace

VideoPacer::VideoPacer(std::int64_t ceiling) : bitrate_(std::max(ceiling, floor)), ceiling_(bitrate_) {}

void VideoPacer::reset() { *this = VideoPacer(ceiling_); }

void VideoPacer::setCeiling(std::int64_t ceiling) {
    ceiling = std::max(ceiling, floor);
    if (ceiling == ceiling_) return;
    ceiling_ = ceiling;
    bitrate_ = std::min(bitrate_, ceiling_);
    cleanSeconds_ = 0;
}

bool VideoPacer::noteDelivered(std::int64_t bytes, double seconds, double interval) {
    const std::int64_t before = bitrate_;
    const double dt = interval > 0 && interval < 2 ? interval : 0;
    noteFrameRate(dt);
    sinceCut_ += dt;
    noteGoodput(bytes, seconds);
    if (seconds > stallSeconds) {
        cleanSeconds_ = 0;
        cut();
    } else {
        cleanSeconds_ += dt;
        if (cleanSeconds_ >= 1.0) {
            cleanSeconds_ = 0;
            raise();
        }
    }
    return worthApplying(before, bitrate_);
}

bool VideoPacer::noteDropped() {
    const std::int64_t before = bitrate_;
    cleanSeconds_ = 0;
    cut();
    return worthApplying(before, bitrate_);
}

std::int64_t VideoPacer::inFlightByteBudget() const {
    return std::max<std::int64_t>(static_cast<std::int64_t>(static_cast<double>(bitrate_) / 8 * 0.05), 4096);
}

// Falling rates are followed faster than rising ones. `interval` is 0 when it says nothing.
void VideoPacer::noteFrameRate(double interval) {
    if (interval <= 0) return;
    const double sample = std::min(1 / interval, 120.0);
    const double weight = sample < framesPerSecond_ ? 0.3 : 0.08;
    framesPerSecond_ += weight * (sample - framesPerSecond_);
}

// Only frames big and slow enough to time say anything about the link.
void VideoPacer::noteGoodput(std::int64_t bytes, double seconds) {
    if (!(seconds >= 0.006) || bytes < 6000) return;
    const double sample = static_cast<double>(bytes) / seconds;
    goodput_ = goodput_ ? *goodput_ + 0.25 * (sample - *goodput_) : sample;
}

void VideoPacer::cut() {
    if (!(sinceCut_ >= cutSpacing)) return;
    sinceCut_ = 0;
    std::int64_t candidate = wholeAtMost(cutFactor * static_cast<double>(bitrate_), ceiling_);
    if (goodput_) candidate = std::min(candidate, wholeAtMost(*goodput_ * 8 * goodputShare, ceiling_));
    bitrate_ = std::max(std::min(candidate, ceiling_), floor);
}

void VideoPacer::raise() { bitrate_ = wholeAtMost(raiseFactor * static_cast<double>(bitrate_), ceiling_); }

}  // namespace quib
