// One 1920 × 1080 picture of B, G, R, unused pixels in memory converted to full-range BT.709
// I420 of the same size: ours (the capture's scaler, which leaves same-size pictures to its own
// converter) against swscale's own conversion of the same pixels, each on one thread and on as
// many as the capture uses. Each reports the 50th, 95th and 99th percentile in milliseconds.
extern "C" {
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "Benchmarks/LatencyCounters.hpp"
#include "Platform/Linux/Media/PictureScaler.hpp"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int width = 1920, height = 1080;

// Random colours, so that no conversion has it easy.
const std::vector<std::uint8_t>& pixels() {
    static const auto made = [] {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) * height * 4);
        std::mt19937 random(3);
        for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
        return bytes;
    }();
    return made;
}

// The capture's own count: one thread a processor, up to 8.
int captureThreads() { return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 8); }

int threadsOf(const benchmark::State& state) { return state.range(0) ? captureThreads() : 1; }

void ours(benchmark::State& state) {
    quib::PictureScaler scaler(threadsOf(state));
    auto picture = quib::PixelBuffer::make(width, height);
    quib::bench::LatencySamples samples;
    for (auto _ : state) {
        const auto began = Clock::now();
        if (!scaler.scale(pixels().data(), width, height, width * 4, *picture))
            return state.SkipWithError("the conversion failed");
        samples.add(Clock::now() - began);
    }
    samples.report(state);
}
BENCHMARK(ours)->Name("Ours/oneThread")->Arg(0)->Iterations(200)->Unit(benchmark::kMillisecond);
BENCHMARK(ours)->Name("Ours/captureThreads")->Arg(1)->Iterations(200)->Unit(benchmark::kMillisecond);

struct ContextFree {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};

std::unique_ptr<SwsContext, ContextFree> swscaleContext(int threads) {
    std::unique_ptr<SwsContext, ContextFree> context(sws_alloc_context());
    av_opt_set_int(context.get(), "srcw", width, 0);
    av_opt_set_int(context.get(), "srch", height, 0);
    av_opt_set_pixel_fmt(context.get(), "src_format", AV_PIX_FMT_BGR0, 0);
    av_opt_set_int(context.get(), "src_range", 1, 0);
    av_opt_set_int(context.get(), "dstw", width, 0);
    av_opt_set_int(context.get(), "dsth", height, 0);
    av_opt_set_pixel_fmt(context.get(), "dst_format", AV_PIX_FMT_YUV420P, 0);
    av_opt_set_int(context.get(), "dst_range", 1, 0);
    av_opt_set_int(context.get(), "sws_flags", SWS_BILINEAR, 0);
    av_opt_set_int(context.get(), "threads", threads, 0);
    if (sws_init_context(context.get(), nullptr, nullptr) < 0) return nullptr;
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(context.get(), bt709, 1, bt709, 1, 0, 1 << 16, 1 << 16);
    return context;
}

void baseline(benchmark::State& state) {
    auto context = swscaleContext(threadsOf(state));
    std::unique_ptr<AVFrame, FrameFree> source(av_frame_alloc()), target(av_frame_alloc());
    if (!context || !source || !target) return state.SkipWithError("swscale did not start");
    source->format = AV_PIX_FMT_BGR0;
    target->format = AV_PIX_FMT_YUV420P;
    source->width = target->width = width;
    source->height = target->height = height;
    if (av_frame_get_buffer(source.get(), 64) < 0 || av_frame_get_buffer(target.get(), 64) < 0)
        return state.SkipWithError("no frames");
    for (int y = 0; y < height; ++y)
        std::copy_n(pixels().data() + y * width * 4, width * 4, source->data[0] + y * source->linesize[0]);
    quib::bench::LatencySamples samples;
    for (auto _ : state) {
        const auto began = Clock::now();
        if (sws_scale_frame(context.get(), target.get(), source.get()) < 0)
            return state.SkipWithError("swscale failed");
        samples.add(Clock::now() - began);
    }
    samples.report(state);
}
BENCHMARK(baseline)->Name("Swscale/oneThread")->Arg(0)->Iterations(200)->Unit(benchmark::kMillisecond);
BENCHMARK(baseline)->Name("Swscale/captureThreads")->Arg(1)->Iterations(200)->Unit(benchmark::kMillisecond);

}  // namespace
