#include "QuibHost/Streaming/VideoEncoder.hpp"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>

#include "QuibHost/Streaming/VideoPackager.hpp"
#include "Runtime/Logger.hpp"

namespace quib {

// What the output handler of one submitted picture carries.
struct VideoEncoder::Submission {
    std::weak_ptr<VideoEncoder> encoder;
    std::shared_ptr<VideoPackager> packager;
    bool forced = false;
    std::uint64_t submittedAt = 0;  // uptime nanoseconds
    Instrumentation* instrumentation = nullptr;
    OutputHandler output;
};

std::shared_ptr<VideoEncoder> VideoEncoder::create(Config config) {
    if (!config.sessions) throw std::invalid_argument("VideoEncoder needs a video session factory");
    return std::make_shared<VideoEncoder>(Passkey{}, std::move(config));
}

VideoEncoder::VideoEncoder(Passkey, Config config)
    : sessions_(std::move(config.sessions)),
      clock_(config.clock ? std::move(config.clock) : SystemClock::shared()),
      instrumentation_(config.instrumentation ? *config.instrumentation : Instrumentation::shared()),
      lastKeyframeAt_(clock_->now()) {}

VideoEncoder::~VideoEncoder() { invalidate(); }

VideoSession::Rates VideoEncoder::rates(std::int64_t bitRate, double frameRate) {
    const double bytesPerSecond = static_cast<double>(bitRate) / 8;
    return {
        .bitRate = bitRate,
        .frameRate = std::clamp(frameRate, minFrameRate, maxFrameRate),
        .limits = {{.bytes = static_cast<std::int64_t>(bytesPerSecond * 0.5), .seconds = 0.25},
                   {.bytes = static_cast<std::int64_t>(bytesPerSecond * 1.3), .seconds = 1.0}},
    };
}

bool VideoEncoder::prepare(std::int64_t width, std::int64_t height, std::int64_t bitRate, double frameRate) {
    {
        MutexLock guard(lock_);
        if (session_ && width_ == width && height_ == height) return true;
    }
    invalidate();
    constexpr std::int64_t maxSide = std::numeric_limits<std::int32_t>::max();
    std::shared_ptr<VideoSession> session;
    ViewFrame::Codec codec = codecOrder.back();
    if (width > 0 && height > 0 && width <= maxSide && height <= maxSide) {
        for (const ViewFrame::Codec candidate : codecOrder) {
            codec = candidate;
            session =
                sessions_->open(codec, static_cast<int>(width), static_cast<int>(height), rates(bitRate, frameRate));
            if (session) break;
        }
    }
    if (!session) {
        quibLog().error("view: no encoder available for ", width, "x", height);
        return false;
    }
    {
        MutexLock guard(lock_);
        session_ = std::move(session);
        packager_ = std::make_shared<VideoPackager>(codec);
        codec_ = codec;
        width_ = width;
        height_ = height;
        forceKeyframe_ = true;
    }
    quibLog().info("view: encoder ", pub(enumName(codec)), " ", width, "x", height, " @ ", bitRate / 1000, " kbps");
    return true;
}

bool VideoEncoder::encode(std::shared_ptr<const PixelBuffer> picture, MonoTime presentationTime, OutputHandler output) {
    std::shared_ptr<VideoSession> session;
    Submission submission;
    submission.encoder = weak_from_this();
    submission.instrumentation = &instrumentation_;
    submission.output = std::move(output);
    {
        MutexLock guard(lock_);
        if (!session_) return false;
        // Pictures come only when the window changes, so the interval is kept in time, not frames.
        const MonoTime now = clock_->now();
        if (now - lastKeyframeAt_ >= keyframeInterval) forceKeyframe_ = true;
        submission.forced = std::exchange(forceKeyframe_, false);
        if (submission.forced) lastKeyframeAt_ = now;
        session = session_;
        submission.packager = packager_;
    }
    submission.submittedAt = instrumentation_.uptimeNanos();
    const bool forced = submission.forced;
    const int status =
        session->submit(std::move(picture), presentationTime, forced, outputHandler(std::move(submission)));
    if (status != 0) {
        quibLog().error("view: encode failed ", status);
        forceKeyframe();
        return false;
    }
    return true;
}

VideoSession::Handler VideoEncoder::outputHandler(Submission submission) {
    return [submission = std::move(submission)](const VideoSession::Result& result) {
        finish(submission.encoder.lock(), submission, result);
    };
}

// Runs on the session's thread. When the encoder is gone, the output is still delivered, but
// nothing is noted on the encoder.
void VideoEncoder::finish(const std::shared_ptr<VideoEncoder>& encoder, const Submission& submission,
                          const VideoSession::Result& result) {
    Instrumentation& samples = *submission.instrumentation;
    if (samples.isEnabled()) samples.record("view_encode", submission.submittedAt);
    const auto fail = [&](bool forceNext) {
        if (encoder && forceNext) encoder->forceKeyframe();
        submission.output(std::nullopt);
    };
    if (result.status != 0) {
        quibLog().error("view: encode returned ", result.status);
        return fail(true);
    }
    if (!result.picture) {
        if (samples.isEnabled() && result.droppedFrame)
            quibLog().info("view: encoder dropped a frame to hold the rate");
        return fail(submission.forced);
    }
    auto packaged = submission.packager->package(result.picture->data, result.picture->isKeyframe);
    if (!packaged) return fail(true);
    if (encoder && packaged->isKeyframe) encoder->noteKeyframe();
    submission.output(std::move(*packaged));
}

void VideoEncoder::noteKeyframe() {
    MutexLock guard(lock_);
    lastKeyframeAt_ = clock_->now();
}

void VideoEncoder::invalidate() {
    std::shared_ptr<VideoSession> session;
    {
        MutexLock guard(lock_);
        session = std::move(session_);
        session_ = nullptr;
        packager_ = nullptr;
        width_ = 0;
        height_ = 0;
    }
    if (session) session->close();
}

void VideoEncoder::updateRate(std::int64_t bitRate, double frameRate) {
    std::shared_ptr<VideoSession> session;
    {
        MutexLock guard(lock_);
        session = session_;
    }
    if (session) session->setRates(rates(bitRate, frameRate));
}

void VideoEncoder::forceKeyframe() {
    MutexLock guard(lock_);
    forceKeyframe_ = true;
}

}  // namespace quib
