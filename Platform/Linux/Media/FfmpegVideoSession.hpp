#pragma once

#include <cstddef>
#include <memory>

#include "Platform/VideoSession.hpp"
#include "Runtime/WorkerThread.hpp"
#include "Shared/ViewFrame.hpp"

namespace quib {

// A video session over libavcodec: libx264 for H.264, libx265 for HEVC, both fed 4:2:0
// full-range pictures tagged BT.709, with no B-frames and no key frame of their own choosing
// beyond scene cuts (the caller forces them). Parameter sets come in band before every key
// frame; nothing is kept apart from the stream.
//
// Encoding is synchronous in libavcodec and takes milliseconds, so a submission only queues the
// picture: the session's worker thread encodes the queue in order and calls each handler there.
// Rates are only stored by `setRates`; the worker hands them to the encoder between pictures,
// before the next one starts (libx264 follows a new bit rate at its next picture; libx265 cannot,
// so its encoder is opened anew with the new rates, and that picture is a key frame).
class FfmpegVideoSession final : public VideoSession {
public:
    // More pictures than this waiting make a submission fail.
    static constexpr std::size_t maxQueued = 8;

    // A session for pictures of `width` × `height`; none when the encoder is missing or refuses
    // that size or those settings.
    static std::shared_ptr<FfmpegVideoSession> open(ViewFrame::Codec codec, int width, int height, const Rates& rates);

    ~FfmpegVideoSession() override;
    FfmpegVideoSession(const FfmpegVideoSession&) = delete;
    FfmpegVideoSession& operator=(const FfmpegVideoSession&) = delete;

    void setRates(const Rates& rates) override;
    // Fails (a negative libavcodec error) for a picture of another size, once closed, or when
    // maxQueued pictures are waiting.
    int submit(std::shared_ptr<const PixelBuffer> picture, MonoTime presentationTime, bool keyframe,
               Handler handler) override;
    void close() override;

    // Whether the encoder keeps a stream header apart (libavcodec's extradata). It never should:
    // every key frame carries its parameter sets.
    bool hasOutOfBandHeader() const;

private:
    class Engine;
    struct Passkey {};

public:
    FfmpegVideoSession(Passkey, std::shared_ptr<Engine> engine);

private:
    std::shared_ptr<Engine> engine_;
    WorkerThread worker_;
};

}  // namespace quib
