// One picture of scrolling text through the video encoder, at the two sizes windows are mostly
// captured at: from the picture handed in to its packaged output on the session's thread,
// against libavcodec's libx264 called directly with the same settings (no worker, no
// packaging), and, for reference, libx264 "ultrafast" and libx265 "ultrafast" called directly.
// Each reports the 50th, 95th and 99th percentile in milliseconds and the bytes per picture.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "Benchmarks/LatencyCounters.hpp"
#include "Platform/Linux/Media/FfmpegVideoSessionFactory.hpp"
#include "Platform/PixelBufferPool.hpp"
#include "QuibHost/Streaming/VideoEncoder.hpp"
#include "Tests/Support/ScrollingText.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::int64_t bitRate = 12'000'000;  // the streamer's ceiling
constexpr std::int64_t frameMicros = 16'667;

// Times per picture and bytes, reported as percentiles and a mean.
class Samples {
public:
    void add(benchmark::State& state, Clock::duration took, std::size_t bytes) {
        const double seconds = std::chrono::duration<double>(took).count();
        state.SetIterationTime(seconds);
        millis_.push_back(seconds * 1000);
        bytes_ += bytes;
    }
    void report(benchmark::State& state) {
        if (millis_.empty()) return;
        quib::bench::reportLatencies(state, millis_);
        state.counters["bytes_per_frame"] = double(bytes_) / double(millis_.size());
    }

private:
    std::vector<double> millis_;
    std::size_t bytes_ = 0;
};

void ours(benchmark::State& state) {
    const int width = int(state.range(0)), height = int(state.range(1));
    auto encoder = quib::VideoEncoder::create({.sessions = std::make_shared<quib::FfmpegVideoSessionFactory>()});
    if (!encoder->prepare(width, height, bitRate, 60)) return state.SkipWithError("no session");
    const quib::testing::ScrollingText text(width, height);
    quib::PixelBufferPool pool(width, height, 3);
    Samples samples;
    std::mutex lock;
    std::condition_variable done;
    int index = 0;
    for (auto _ : state) {
        auto picture = pool.take();
        text.draw(*picture, index);
        std::optional<std::size_t> bytes;
        const auto began = Clock::now();
        const quib::MonoTime at(std::chrono::microseconds(index * frameMicros));
        encoder->encode(std::move(picture), at, [&](std::optional<quib::VideoEncoder::Output> output) {
            std::size_t n = output ? output->data.size() : 0;
            if (output)
                for (const auto& set : output->parameterSets) n += set.size();
            std::lock_guard guard(lock);
            bytes = n;
            done.notify_one();
        });
        std::unique_lock guard(lock);
        done.wait(guard, [&] { return bytes.has_value(); });
        samples.add(state, Clock::now() - began, *bytes);
        ++index;
    }
    samples.report(state);
}

// libavcodec called directly, on the calling thread, with pictures handed over without a copy.
class PlainEncoder {
public:
    PlainEncoder(const char* name, int width, int height, const char* preset) {
        const AVCodec* codec = avcodec_find_encoder_by_name(name);
        context_ = avcodec_alloc_context3(codec);
        const bool hevc = std::string_view(name) == "libx265";
        av_opt_set(context_->priv_data, "preset", preset, 0);
        av_opt_set(context_->priv_data, "tune", "zerolatency", 0);
        av_opt_set(context_->priv_data, "profile", hevc ? "main" : "high", 0);
        av_opt_set_int(context_->priv_data, "forced-idr", 1, 0);
        if (hevc)
            av_opt_set(context_->priv_data, "x265-params",
                       "frame-threads=1:open-gop=0:info=0:log-level=error:keyint=-1", 0);
        else av_opt_set(context_->priv_data, "x264-params", "keyint=infinite", 0);
        context_->width = width;
        context_->height = height;
        context_->pix_fmt = AV_PIX_FMT_YUV420P;
        context_->time_base = {1, 1'000'000};
        context_->framerate = {60, 1};
        context_->max_b_frames = 0;
        context_->color_range = AVCOL_RANGE_JPEG;
        context_->thread_count = 0;
        if (!hevc) context_->thread_type = FF_THREAD_SLICE;
        context_->bit_rate = bitRate;
        context_->rc_max_rate = bitRate;
        context_->rc_buffer_size = bitRate / 4;
        av_log_set_level(AV_LOG_ERROR);
        opened_ = avcodec_open2(context_, codec, nullptr) == 0;
        packet_ = av_packet_alloc();
        frame_ = av_frame_alloc();
    }
    ~PlainEncoder() {
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&context_);
    }
    bool opened() const { return opened_; }

    // Bytes of the packets that came out for the picture.
    std::size_t encode(quib::PixelBuffer& picture, std::int64_t pts) {
        av_frame_unref(frame_);
        frame_->buf[0] = av_buffer_create(
            picture.data(0), int(picture.memorySize()), [](void*, std::uint8_t*) {}, nullptr, 0);
        for (int p = 0; p < quib::PixelBuffer::planeCount; ++p) {
            frame_->data[p] = picture.data(p);
            frame_->linesize[p] = picture.stride(p);
        }
        frame_->format = AV_PIX_FMT_YUV420P;
        frame_->width = picture.width();
        frame_->height = picture.height();
        frame_->pts = pts;
        std::size_t bytes = 0;
        if (avcodec_send_frame(context_, frame_) < 0) return 0;
        while (avcodec_receive_packet(context_, packet_) == 0) {
            bytes += std::size_t(packet_->size);
            av_packet_unref(packet_);
        }
        return bytes;
    }

private:
    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    bool opened_ = false;
};

void plain(benchmark::State& state, const char* name, const char* preset) {
    const int width = int(state.range(0)), height = int(state.range(1));
    PlainEncoder encoder(name, width, height, preset);
    if (!encoder.opened()) return state.SkipWithError("the encoder did not open");
    const quib::testing::ScrollingText text(width, height);
    auto picture = quib::PixelBuffer::make(width, height);
    Samples samples;
    int index = 0;
    for (auto _ : state) {
        text.draw(*picture, index);
        const auto began = Clock::now();
        const std::size_t bytes = encoder.encode(*picture, index * frameMicros);
        samples.add(state, Clock::now() - began, bytes);
        ++index;
    }
    samples.report(state);
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Args({1920, 1080})->Args({2526, 1768})->Iterations(300)->UseManualTime()->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(ours)->Name("VideoEncoder/x264_superfast_packaged")->Apply(sizes);
BENCHMARK_CAPTURE(plain, x264_superfast, "libx264", "superfast")->Name("Plain/x264_superfast")->Apply(sizes);
BENCHMARK_CAPTURE(plain, x264_ultrafast, "libx264", "ultrafast")->Name("Plain/x264_ultrafast")->Apply(sizes);
BENCHMARK_CAPTURE(plain, x265_ultrafast, "libx265", "ultrafast")->Name("Plain/x265_ultrafast")->Apply(sizes);
