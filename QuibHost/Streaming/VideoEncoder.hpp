#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Platform/PixelBuffer.hpp"
#include "Platform/VideoSessionFactory.hpp"
#include "QuibHost/Streaming/PanelEncoder.hpp"
#include "Runtime/Bytes.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Mutex.hpp"
#include "Shared/Instrumentation.hpp"
#include "Shared/ViewFrame.hpp"

namespace quib {

class VideoPackager;

// Turns the mirrored window's pictures into compressed video for the view channel. It holds one
// compression session at a time, of HEVC when the platform can make a real-time one and H.264
// otherwise, keeps it tuned for low delay, applies the rates the pacing decides, forces key
// frames on request (and at least every ten seconds) and hands each compressed picture back as
// an Output whose units are length-prefixed and whose parameter sets travel apart.
//
// `prepare`, `encode`, `invalidate` and `forceKeyframe` are called from the streamer's queue,
// `updateRate` from any thread; outputs arrive on the session's thread. The encoder ends its
// session when it is destroyed.
class VideoEncoder final : public PanelEncoder, public std::enable_shared_from_this<VideoEncoder> {
public:
    static constexpr std::array<ViewFrame::Codec, 2> codecOrder{ViewFrame::Codec::hevc, ViewFrame::Codec::h264};
    static constexpr Duration keyframeInterval = std::chrono::seconds(10);
    static constexpr double minFrameRate = 5;
    static constexpr double maxFrameRate = 60;

    struct Config {
        std::shared_ptr<VideoSessionFactory> sessions = nullptr;  // required
        std::shared_ptr<Clock> clock = nullptr;                   // none: the system clock
        Instrumentation* instrumentation = nullptr;               // none: the shared one
    };

    // Throws std::invalid_argument without a session factory.
    static std::shared_ptr<VideoEncoder> create(Config config);
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // Makes sure a session for pictures of this size exists; true when one is ready. A session
    // of the same size is kept as it is, rates included.
    bool prepare(std::int64_t width, std::int64_t height, std::int64_t bitRate, double frameRate) override;

    // Submits one picture. `output` is called once, later, with the compressed picture or with
    // none. False, and `output` is never called, when there is no session or the submission
    // failed.
    bool encode(std::shared_ptr<const PixelBuffer> picture, MonoTime presentationTime, OutputHandler output) override;

    // Ends the session; pictures already submitted are finished first.
    void invalidate() override;

    // Applies a bit rate and frame rate to the current session, if there is one.
    void updateRate(std::int64_t bitRate, double frameRate) override;

    // The next picture submitted is a key frame.
    void forceKeyframe() override;

    // The rate rule: bit rate B on average, the frame rate kept within 5...60, and at most
    // B/8 × 0.5 bytes in any 0.25 s and B/8 × 1.3 bytes in any second.
    static VideoSession::Rates rates(std::int64_t bitRate, double frameRate);

private:
    struct Passkey {};
    struct Submission;

public:
    VideoEncoder(Passkey, Config config);

private:
    VideoSession::Handler outputHandler(Submission submission);
    static void finish(const std::shared_ptr<VideoEncoder>& encoder, const Submission& submission,
                       const VideoSession::Result& result);
    void noteKeyframe();

    std::shared_ptr<VideoSessionFactory> sessions_;
    std::shared_ptr<Clock> clock_;
    Instrumentation& instrumentation_;

    Mutex lock_;  // guards everything below
    std::shared_ptr<VideoSession> session_ GUARDED_BY(lock_);
    std::shared_ptr<VideoPackager> packager_ GUARDED_BY(lock_);  // of the session
    std::int64_t width_ GUARDED_BY(lock_) = 0;
    std::int64_t height_ GUARDED_BY(lock_) = 0;
    ViewFrame::Codec codec_ GUARDED_BY(lock_) = ViewFrame::Codec::hevc;
    bool forceKeyframe_ GUARDED_BY(lock_) = true;
    MonoTime lastKeyframeAt_ GUARDED_BY(lock_);
};

}  // namespace quib
