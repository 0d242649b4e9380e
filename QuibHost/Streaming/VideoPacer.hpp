#pragma once

#include <cstdint>
#include <limits>
#include <optional>

namespace quib {

// The bit rate of the view stream, set by what the viewers' connections deliver: a send that
// stalls or a frame that has to be dropped cuts the rate at once (at most once per 0.35 s of
// deliveries), each clean second raises it by a tenth, always within floor...ceiling. Also the
// fan-out's limits on frames and bytes in flight to one viewer.
//
// A plain value: the owner feeds it measurements and does the locking.
class VideoPacer {
public:
    static constexpr std::int64_t floor = 700000;  // bits per second
    static constexpr double stallSeconds = 0.035;  // a send that takes longer is a stall
    static constexpr std::int64_t maxFramesInFlight = 2;

    // Starts at the ceiling, raised to at least the floor.
    explicit VideoPacer(std::int64_t ceiling);

    // Back to the ceiling's rate, with nothing measured; the ceiling stays.
    void reset();
    // A new ceiling (at least the floor): the rate is cut to it but never raised by it; the
    // raises climb to a higher one step by step.
    void setCeiling(std::int64_t ceiling);

    // One video frame of `bytes` took `seconds` from being handed to a connection until it was
    // sent; `interval` is the time since the previous video frame was handed over (0 for the
    // first). True when the rate moved by an eighth or more and is worth giving the encoder.
    bool noteDelivered(std::int64_t bytes, double seconds, double interval);
    // A video frame could not be handed to any viewer. Same answer as noteDelivered.
    bool noteDropped();

    // A viewer with a frame in flight gets another only while its bytes in flight are below this:
    // 50 ms at the current rate, at least 4096.
    std::int64_t inFlightByteBudget() const;

    std::int64_t bitrate() const { return bitrate_; }
    double framesPerSecond() const { return framesPerSecond_; }
    std::optional<double> goodput() const { return goodput_; }  // bytes per second
    std::int64_t ceiling() const { return ceiling_; }
    double sinceCut() const { return sinceCut_; }
    double cleanSeconds() const { return cleanSeconds_; }

    bool operator==(const VideoPacer&) const = default;

private:
    void noteFrameRate(double interval);
    void noteGoodput(std::int64_t bytes, double seconds);
    void cut();
    void raise();

    std::int64_t bitrate_;
    double framesPerSecond_ = 60;
    std::optional<double> goodput_;
    std::int64_t ceiling_;
    double sinceCut_ = std::numeric_limits<double>::infinity();
    double cleanSeconds_ = 0;
};

}  // namespace quib
