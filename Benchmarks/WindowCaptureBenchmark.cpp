// One picture of a 1920 × 1080 window, grabbed and converted to full-range BT.709 I420, on the
// X display named by QUIB_TEST_DISPLAY (else DISPLAY): ours (the composite pixmap read through a
// kept MIT-SHM segment, converted on four threads into a pooled picture) against the plain way
// (XGetImage of the window, swscale on one thread), for the whole window and for a quarter of
// it (the picture is the size of the part read). Also the cost of a tick that finds nothing
// new. Each reports the 50th, 95th and 99th percentile in milliseconds.
extern "C" {
#include <libswscale/swscale.h>
}

#include <benchmark/benchmark.h>

#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <vector>

#include "Benchmarks/LatencyCounters.hpp"
#include "Benchmarks/Support/BenchmarkDisplay.hpp"
#include "Benchmarks/Support/TestWindow.hpp"
#include "Platform/Linux/Media/PictureScaler.hpp"
#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11WindowFrames.hpp"
#include "Platform/Linux/X11/X11WindowGrab.hpp"
#include "Platform/PixelBufferPool.hpp"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int windowWidth = 1920, windowHeight = 1080;

using quib::bench::displayName;
using quib::bench::TestWindow;

using Samples = quib::bench::LatencySamples;

// A window the size of the screen, painted with bands of colour and fine stripes, so that neither
// the reading nor the scaling has it easy.
TestWindow* sharedWindow() {
    static const auto window =
        TestWindow::open({0, 0, windowWidth, windowHeight}, 0x202020, [](Display* display, Window window, GC gc) {
            for (int band = 0; band < 12; ++band) {
                XSetForeground(display, gc, 0x1F3F5Fu * static_cast<unsigned>(band + 1) & 0xFFFFFFu);
                XFillRectangle(display, window, gc, 0, band * 90, windowWidth, 90);
            }
            XSetForeground(display, gc, 0xF0F0F0);
            for (int x = 0; x < windowWidth; x += 7) XDrawLine(display, window, gc, x, 0, x + 200, windowHeight);
        });
    return window.get();
}

quib::X11WindowGrab::Region region(bool quarter) {
    return quarter ? quib::X11WindowGrab::Region{480, 270, windowWidth / 2, windowHeight / 2}
                   : quib::X11WindowGrab::Region{0, 0, windowWidth, windowHeight};
}

void ours(benchmark::State& state) {
    auto* window = sharedWindow();
    if (!window) return state.SkipWithError("no X display (QUIB_TEST_DISPLAY or DISPLAY)");
    const auto part = region(state.range(0) != 0);
    auto grab = quib::X11WindowGrab::open(window->connection, window->window, {});
    if (!grab || !(*grab)->usesSharedMemory())
        return state.SkipWithError("the window cannot be grabbed through MIT-SHM");
    quib::PictureScaler scaler(4);
    quib::PixelBufferPool pool(part.width, part.height, 5);
    Samples samples;
    for (auto _ : state) {
        const auto began = Clock::now();
        auto picture = pool.take();
        auto image = (*grab)->grab(part);
        if (!picture || !image || !scaler.scale(image->pixels, image->width, image->height, image->stride, *picture)) {
            return state.SkipWithError("the grab failed");
        }
        samples.add(Clock::now() - began);
    }
    samples.report(state);
}
BENCHMARK(ours)->Name("Ours/whole")->Arg(0)->Iterations(200)->Unit(benchmark::kMillisecond);
BENCHMARK(ours)->Name("Ours/quarter")->Arg(1)->Iterations(200)->Unit(benchmark::kMillisecond);

void baseline(benchmark::State& state) {
    auto* window = sharedWindow();
    if (!window) return state.SkipWithError("no X display (QUIB_TEST_DISPLAY or DISPLAY)");
    const auto part = region(state.range(0) != 0);
    SwsContext* context = sws_getContext(part.width, part.height, AV_PIX_FMT_BGR0, part.width, part.height,
                                         AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(context, bt709, 1, bt709, 1, 0, 1 << 16, 1 << 16);
    auto picture = quib::PixelBuffer::make(part.width, part.height);
    Samples samples;
    for (auto _ : state) {
        const auto began = Clock::now();
        XImage* image = nullptr;
        window->connection->use([&](Display* display) {
            image = XGetImage(display, window->window, part.x, part.y, static_cast<unsigned>(part.width),
                              static_cast<unsigned>(part.height), AllPlanes, ZPixmap);
        });
        if (!image) return state.SkipWithError("XGetImage failed");
        const std::uint8_t* source[] = {reinterpret_cast<const std::uint8_t*>(image->data)};
        const int sourceStride[] = {image->bytes_per_line};
        std::uint8_t* target[] = {picture->data(0), picture->data(1), picture->data(2)};
        const int targetStride[] = {picture->stride(0), picture->stride(1), picture->stride(2)};
        sws_scale(context, source, sourceStride, 0, part.height, target, targetStride);
        XDestroyImage(image);
        samples.add(Clock::now() - began);
    }
    sws_freeContext(context);
    samples.report(state);
}
BENCHMARK(baseline)->Name("XGetImageOneThread/whole")->Arg(0)->Iterations(100)->Unit(benchmark::kMillisecond);
BENCHMARK(baseline)->Name("XGetImageOneThread/quarter")->Arg(1)->Iterations(100)->Unit(benchmark::kMillisecond);

// A tick of a stream whose window does not change: its events handled, the pointer asked for.
void idleTick(benchmark::State& state) {
    auto* window = sharedWindow();
    if (!window) return state.SkipWithError("no X display (QUIB_TEST_DISPLAY or DISPLAY)");
    quib::WindowStream::Configuration configuration;
    configuration.width = windowWidth;
    configuration.height = windowHeight;
    auto frames =
        quib::X11WindowFrames::open(quib::X11Connection::open(displayName()), window->window, configuration, {});
    if (!frames) return state.SkipWithError(frames.error().message.c_str());
    // The first picture, then whatever the damage of the painting left.
    for (int i = 0; i < 3; ++i) (void)(*frames)->tick(quib::MonoTime{});
    Samples samples;
    for (auto _ : state) {
        const auto began = Clock::now();
        auto tick = (*frames)->tick(quib::MonoTime{});
        samples.add(Clock::now() - began);
        if (!tick.sample || tick.sample->picture) return state.SkipWithError("the window changed");
    }
    samples.report(state);
}
BENCHMARK(idleTick)->Name("IdleTick")->Iterations(1000)->Unit(benchmark::kMillisecond);

}  // namespace
