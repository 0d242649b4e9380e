#include "Platform/Linux/Media/FfmpegVideoSession.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <limits>
#include <optional>
#include <thread>
#include <utility>

#include "Platform/Linux/Media/FfmpegLog.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {
namespace {

struct ContextDelete {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDelete {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDelete {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using Context = std::unique_ptr<AVCodecContext, ContextDelete>;
using Frame = std::unique_ptr<AVFrame, FrameDelete>;
using Packet = std::unique_ptr<AVPacket, PacketDelete>;

constexpr AVRational microseconds{1, 1'000'000};

// The frame rate the encoders budget for, whatever rate the caller expects: 60, the most
// pictures a second a session is fed (captures come at most every 1/60 s).
//
// The encoders give each picture the bit rate divided by this rate, and their rate limiter
// refills by as much per picture. Pictures come only when the window changes, from 60 a second
// to none; told to expect fewer than come, an encoder overshoots the limits many times over
// (opened at 5 and fed 60 a second, libx264 sends 7 times the rate). Told 60, it never does,
// and a picture that comes after a pause gets a sixtieth of a second's bits like any other, or
// up to the limiter's buffer when it holds much. libx264 could budget by the timestamps instead
// ("force-cfr=0"), but then it holds every picture back until the next one arrives, and a caller
// that waits for a picture before sending the next would wait for ever.
constexpr AVRational budgetFrameRate{60, 1};

// libx264's slice threads, one slice each: three quarters of the processors. A picture is out
// only once its slowest slice is, so more slices bring a large change out sooner, until waking
// them and handing their work round costs more than they save: on 8 processors a large change at
// 1920x1080 came out 0.9 ms sooner with 6 slices than with 4 and 1.5-2 ms later with 8; at
// 1280x720, 4 and 6 were alike.
int sliceThreads() { return static_cast<int>(std::max(1U, std::thread::hardware_concurrency() * 3 / 4)); }

// A rate limiter of peak rate R and buffer S lets at most S + R × t bits through in any t
// seconds; with R the average rate, the buffer is the room the tightest limit leaves above it.
int bufferBits(const VideoSession::Rates& rates) {
    double bits = std::numeric_limits<int>::max();
    for (const auto& limit : rates.limits)
        bits =
            std::min(bits, static_cast<double>(limit.bytes) * 8 - static_cast<double>(rates.bitRate) * limit.seconds);
    return static_cast<int>(std::max(bits, 1000.0));
}

void applyRateControl(AVCodecContext& context, const VideoSession::Rates& rates) {
    context.bit_rate = rates.bitRate;
    context.rc_max_rate = rates.limits.empty() ? 0 : rates.bitRate;
    context.rc_buffer_size = rates.limits.empty() ? 0 : bufferBits(rates);
}

bool setOptions(AVCodecContext& context, ViewFrame::Codec codec) {
    void* options = context.priv_data;
    if (codec == ViewFrame::Codec::hevc) {
        return av_opt_set(options, "preset", "ultrafast", 0) >= 0 &&
               av_opt_set(options, "tune", "zerolatency", 0) >= 0 && av_opt_set(options, "profile", "main", 0) >= 0 &&
               av_opt_set_int(options, "forced-idr", 1, 0) >= 0 &&
               av_opt_set(options, "x265-params", "frame-threads=1:open-gop=0:info=0:log-level=error:keyint=-1", 0) >=
                   0;
    }
    // "ultrafast" would leave out CABAC and the 8×8 transform and signal Constrained Baseline.
    return av_opt_set(options, "preset", "superfast", 0) >= 0 && av_opt_set(options, "tune", "zerolatency", 0) >= 0 &&
           av_opt_set(options, "profile", "high", 0) >= 0 && av_opt_set_int(options, "forced-idr", 1, 0) >= 0 &&
           av_opt_set(options, "x264-params", "keyint=infinite", 0) >= 0;
}

Context openContext(ViewFrame::Codec codec, int width, int height, const VideoSession::Rates& rates) {
    const AVCodec* encoder = avcodec_find_encoder_by_name(codec == ViewFrame::Codec::hevc ? "libx265" : "libx264");
    if (!encoder || width <= 0 || height <= 0) return nullptr;
    Context context(avcodec_alloc_context3(encoder));
    if (!context || !setOptions(*context, codec)) return nullptr;
    context->width = width;
    context->height = height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = microseconds;
    context->framerate = budgetFrameRate;
    context->max_b_frames = 0;
    context->color_range = AVCOL_RANGE_JPEG;
    context->color_primaries = AVCOL_PRI_BT709;
    context->color_trc = AVCOL_TRC_BT709;
    context->colorspace = AVCOL_SPC_BT709;
    context->thread_count = sliceThreads();
    if (codec == ViewFrame::Codec::h264) context->thread_type = FF_THREAD_SLICE;  // frame threads delay output
    applyRateControl(*context, rates);
    if (avcodec_open2(context.get(), encoder, nullptr) < 0) return nullptr;
    return context;
}

// FFmpeg's reference to a picture: the frame holds the picture alive, without a copy, until the
// encoder lets go of it.
void releasePicture(void* opaque, std::uint8_t*) {
    std::unique_ptr<std::shared_ptr<const PixelBuffer>> held(static_cast<std::shared_ptr<const PixelBuffer>*>(opaque));
}

Frame frameOf(const std::shared_ptr<const PixelBuffer>& picture) {
    Frame frame(av_frame_alloc());
    if (!frame) return nullptr;
    auto held = std::make_unique<std::shared_ptr<const PixelBuffer>>(picture);
    frame->buf[0] = av_buffer_create(const_cast<std::uint8_t*>(picture->memory()), picture->memorySize(),
                                     releasePicture, held.get(), AV_BUFFER_FLAG_READONLY);
    if (!frame->buf[0]) return nullptr;
    held.release();
    for (int p = 0; p < PixelBuffer::planeCount; ++p) {
        frame->data[p] = const_cast<std::uint8_t*>(picture->data(p));
        frame->linesize[p] = picture->stride(p);
    }
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = picture->width();
    frame->height = picture->height();
    frame->color_range = AVCOL_RANGE_JPEG;
    frame->color_primaries = AVCOL_PRI_BT709;
    frame->color_trc = AVCOL_TRC_BT709;
    frame->colorspace = AVCOL_SPC_BT709;
    return frame;
}

VideoSession::Result failure(int status) {
    VideoSession::Result result;
    result.status = status;
    return result;
}

VideoSession::Result compressed(const AVPacket& packet) {
    VideoSession::Result result;
    result.picture = VideoSession::Picture{.data = {packet.data, static_cast<std::size_t>(packet.size)},
                                           .isKeyframe = (packet.flags & AV_PKT_FLAG_KEY) != 0};
    return result;
}

}  // namespace

// The encoder and its queue, shared by the session and its worker thread.
class FfmpegVideoSession::Engine {
public:
    Engine(ViewFrame::Codec codec, int width, int height, const Rates& rates, Context context, Packet packet)
        : codec_(codec),
          width_(width),
          height_(height),
          outOfBandHeader_(context->extradata_size > 0),
          context_(std::move(context)),
          rates_(rates),
          packet_(std::move(packet)) {}

    bool hasOutOfBandHeader() const { return outOfBandHeader_; }

    void setRates(const Rates& rates) {
        MutexLock guard(lock_);
        pendingRates_ = rates;
    }

    int submit(std::shared_ptr<const PixelBuffer> picture, MonoTime presentationTime, bool keyframe, Handler handler) {
        if (!picture || picture->width() != width_ || picture->height() != height_) return AVERROR(EINVAL);
        MutexLock guard(lock_);
        if (stopping_) return AVERROR_EOF;
        if (jobs_.size() >= maxQueued) return AVERROR(EAGAIN);
        jobs_.push_back({std::move(picture), presentationTime, keyframe, std::move(handler)});
        wake_.notify_one();
        return 0;
    }

    void stop() {
        MutexLock guard(lock_);
        stopping_ = true;
        wake_.notify_one();
    }

    // The worker: encodes what is queued, in order, until stopped; then finishes the rest.
    void run() {
        for (;;) {
            Job job;
            std::optional<Rates> rates;
            {
                UniqueLock guard(lock_);
                wake_.wait(guard.native(), [this]() REQUIRES(lock_) { return stopping_ || !jobs_.empty(); });
                if (jobs_.empty()) break;
                job = std::move(jobs_.front());
                jobs_.pop_front();
                rates = std::exchange(pendingRates_, std::nullopt);
            }
            if (rates) applyRates(*rates);
            encode(std::move(job));
        }
        drain(*context_);
    }

private:
    struct Job {
        std::shared_ptr<const PixelBuffer> picture;
        MonoTime presentationTime;
        bool keyframe = false;
        Handler handler;
    };

    void applyRates(const Rates& rates) {
        if (rates == rates_) return;
        if (codec_ == ViewFrame::Codec::h264) {
            // libx264's wrapper compares these with its own at every picture and reconfigures.
            applyRateControl(*context_, rates);
            rates_ = rates;
            return;
        }
        Context reopened = openContext(codec_, width_, height_, rates);
        if (!reopened) return;  // the old encoder goes on at the old rates
        drain(*context_);
        context_ = std::move(reopened);
        rates_ = rates;
    }

    void encode(Job job) {
        Frame frame = frameOf(job.picture);
        job.picture = nullptr;
        if (!frame) return job.handler(failure(AVERROR(ENOMEM)));
        // Timestamps must rise.
        const std::int64_t pts = job.presentationTime.time_since_epoch().count() / 1000;
        frame->pts = lastPts_ ? std::max(pts, *lastPts_ + 1) : pts;
        lastPts_ = frame->pts;
        frame->pict_type = job.keyframe ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        const int status = avcodec_send_frame(context_.get(), frame.get());
        if (status < 0) return job.handler(failure(status));
        awaiting_.push_back(std::move(job.handler));
        receivePackets(*context_);
    }

    // Hands every packet the encoder has ready to the oldest picture still waiting.
    void receivePackets(AVCodecContext& context) {
        for (;;) {
            const int status = avcodec_receive_packet(&context, packet_.get());
            if (status == AVERROR(EAGAIN) || status == AVERROR_EOF || awaiting_.empty()) {
                av_packet_unref(packet_.get());
                return;
            }
            Handler handler = std::move(awaiting_.front());
            awaiting_.pop_front();
            if (status < 0) return handler(failure(status));
            handler(compressed(*packet_));
            av_packet_unref(packet_.get());
        }
    }

    // Flushes the encoder: what it still holds comes out, and pictures that got nothing are told so.
    void drain(AVCodecContext& context) {
        if (avcodec_send_frame(&context, nullptr) >= 0) receivePackets(context);
        while (!awaiting_.empty()) {
            Handler handler = std::move(awaiting_.front());
            awaiting_.pop_front();
            handler(Result{});
        }
    }

    const ViewFrame::Codec codec_;
    const int width_;
    const int height_;
    const bool outOfBandHeader_;

    // Only the worker uses these.
    Context context_;
    Rates rates_;
    Packet packet_;
    std::deque<Handler> awaiting_;  // sent to the encoder, no packet yet
    std::optional<std::int64_t> lastPts_;

    std::condition_variable wake_;
    Mutex lock_;  // guards the three below
    std::deque<Job> jobs_ GUARDED_BY(lock_);
    std::optional<Rates> pendingRates_ GUARDED_BY(lock_);
    bool stopping_ GUARDED_BY(lock_) = false;
};

std::shared_ptr<FfmpegVideoSession> FfmpegVideoSession::open(ViewFrame::Codec codec, int width, int height,
                                                             const Rates& rates) {
    quietFfmpegLog();
    Context context = openContext(codec, width, height, rates);
    Packet packet(av_packet_alloc());
    if (!context || !packet) return nullptr;
    auto engine = std::make_shared<Engine>(codec, width, height, rates, std::move(context), std::move(packet));
    return std::make_shared<FfmpegVideoSession>(Passkey{}, std::move(engine));
}

FfmpegVideoSession::FfmpegVideoSession(Passkey, std::shared_ptr<Engine> engine)
    : engine_(std::move(engine)), worker_("com.brenmoor.quib.host.encoder", [engine = engine_] { engine->run(); }) {}

FfmpegVideoSession::~FfmpegVideoSession() { close(); }

void FfmpegVideoSession::setRates(const Rates& rates) { engine_->setRates(rates); }

int FfmpegVideoSession::submit(std::shared_ptr<const PixelBuffer> picture, MonoTime presentationTime, bool keyframe,
                               Handler handler) {
    return engine_->submit(std::move(picture), presentationTime, keyframe, std::move(handler));
}

void FfmpegVideoSession::close() {
    engine_->stop();
    worker_.join();
}

bool FfmpegVideoSession::hasOutOfBandHeader() const { return engine_->hasOutOfBandHeader(); }

}  // namespace quib
