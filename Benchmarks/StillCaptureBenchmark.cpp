// One still screenshot as PNG, on the X display named by QUIB_TEST_DISPLAY (else DISPLAY): the
// top left 1440 × 900 of the screen at full size, and a 1280 × 800 window shrunk to 1000 × 625.
// Ours grabs (the root through MIT-SHM, the window's composite pixmap on a connection of its
// own), scales with swscale's area filter and writes the PNG with FFmpeg's encoder (Paeth
// prediction). The baseline is the ffmpeg program grabbing the same region with x11grab and
// writing PNG to a pipe; its start-up alone (ffmpeg -version) is measured once beside it. Each
// reports the 50th, 95th and 99th percentile in milliseconds and the PNG's bytes.

#include <benchmark/benchmark.h>

#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Benchmarks/LatencyCounters.hpp"
#include "Benchmarks/Support/BenchmarkDisplay.hpp"
#include "Benchmarks/Support/TestWindow.hpp"
#include "Platform/Linux/Media/FfmpegPngEncoder.hpp"
#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11ScreenGrab.hpp"
#include "Platform/Linux/X11/X11WindowSource.hpp"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int screenWidth = 1440, screenHeight = 900;
constexpr int windowX = 100, windowY = 50, windowWidth = 1280, windowHeight = 800;
constexpr int outWidth = 1000, outHeight = 625;

using quib::bench::displayName;
using quib::bench::TestWindow;

using Samples = quib::bench::LatencySamples;

// A window painted with bands of colour and text-like fine strokes, so that neither the scaling
// nor the compression has it easy.
TestWindow* sharedWindow() {
    static const auto window = TestWindow::open(
        {windowX, windowY, windowWidth, windowHeight}, 0xF8F8F8, [](Display* display, Window window, GC gc) {
            for (int band = 0; band < 4; ++band) {
                XSetForeground(display, gc, 0x3050A0u + static_cast<unsigned>(band) * 0x101010u);
                XFillRectangle(display, window, gc, 0, band * 200, windowWidth, 24);
            }
            XSetForeground(display, gc, 0x202020);
            for (int y = 40; y < windowHeight; y += 16) {
                for (int x = 10; x < windowWidth - 20; x += 9) {
                    if ((x * 7 + y * 3) % 11 < 8) XDrawRectangle(display, window, gc, x, y, 5, 9);
                }
            }
        });
    return window.get();
}

void reportBytes(benchmark::State& state, std::size_t bytes) { state.counters["png_bytes"] = static_cast<double>(bytes); }

void oursScreen(benchmark::State& state) {
    if (!sharedWindow()) return state.SkipWithError("no X display (QUIB_TEST_DISPLAY or DISPLAY)");
    auto connection = quib::X11Connection::open(displayName());
    quib::FfmpegPngEncoder encoder;
    Samples samples;
    std::size_t bytes = 0;
    for (auto _ : state) {
        const auto began = Clock::now();
        const auto picture =
            quib::X11ScreenGrab::picture(*connection, {0, 0, screenWidth, screenHeight}, screenWidth, screenHeight);
        const auto png = picture ? encoder.encode(picture.value()) : std::nullopt;
        if (!png) return state.SkipWithError("the screen could not be photographed");
        samples.add(Clock::now() - began);
        bytes = png->size();
    }
    samples.report(state);
    reportBytes(state, bytes);
}
BENCHMARK(oursScreen)->Name("Ours/screen1440x900")->Iterations(30)->Unit(benchmark::kMillisecond);

void oursWindow(benchmark::State& state) {
    auto* window = sharedWindow();
    if (!window) return state.SkipWithError("no X display (QUIB_TEST_DISPLAY or DISPLAY)");
    quib::X11WindowSource source(window->connection, displayName(), std::make_shared<quib::DesktopEntries>(), nullptr);
    quib::FfmpegPngEncoder encoder;
    Samples samples;
    std::size_t bytes = 0;
    for (auto _ : state) {
        const auto began = Clock::now();
        const auto picture = source.windowPicture(static_cast<std::uint32_t>(window->window), outWidth, outHeight);
        const auto png = picture ? encoder.encode(picture.value()) : std::nullopt;
        if (!png) return state.SkipWithError("the window could not be photographed");
        samples.add(Clock::now() - began);
        bytes = png->size();
    }
    samples.report(state);
    reportBytes(state, bytes);
}
BENCHMARK(oursWindow)->Name("Ours/window1280x800to1000")->Iterations(30)->Unit(benchmark::kMillisecond);

// Runs `command` and counts what it writes; none when it fails.
std::optional<std::size_t> outputOf(const std::string& command) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::size_t total = 0;
    char buffer[65536];
    while (const std::size_t read = std::fread(buffer, 1, sizeof buffer, pipe)) total += read;
    return ::pclose(pipe) == 0 ? std::optional(total) : std::nullopt;
}

void ffmpegStill(benchmark::State& state, int x, int y, int width, int height, const std::string& filter) {
    if (!sharedWindow()) return state.SkipWithError("no X display (QUIB_TEST_DISPLAY or DISPLAY)");
    const std::string command = "ffmpeg -v error -f x11grab -draw_mouse 0 -video_size " + std::to_string(width) + "x" +
                                std::to_string(height) + " -i '" + displayName() + "+" + std::to_string(x) + "," +
                                std::to_string(y) + "' -frames:v 1 " + filter + "-c:v png -f image2pipe pipe:1";
    Samples samples;
    std::size_t bytes = 0;
    for (auto _ : state) {
        const auto began = Clock::now();
        const auto written = outputOf(command);
        if (!written) return state.SkipWithError("ffmpeg failed");
        samples.add(Clock::now() - began);
        bytes = *written;
    }
    samples.report(state);
    reportBytes(state, bytes);
}
void baselineScreen(benchmark::State& state) { ffmpegStill(state, 0, 0, screenWidth, screenHeight, ""); }
BENCHMARK(baselineScreen)->Name("FfmpegX11grab/screen1440x900")->Iterations(30)->Unit(benchmark::kMillisecond);
void baselineWindow(benchmark::State& state) {
    ffmpegStill(state, windowX, windowY, windowWidth, windowHeight,
                "-vf scale=" + std::to_string(outWidth) + ":" + std::to_string(outHeight) + ":flags=area ");
}
BENCHMARK(baselineWindow)->Name("FfmpegX11grab/window1280x800to1000")->Iterations(30)->Unit(benchmark::kMillisecond);

void baselineStartUp(benchmark::State& state) {
    Samples samples;
    for (auto _ : state) {
        const auto began = Clock::now();
        if (!outputOf("ffmpeg -hide_banner -version")) return state.SkipWithError("ffmpeg failed");
        samples.add(Clock::now() - began);
    }
    samples.report(state);
}
BENCHMARK(baselineStartUp)->Name("FfmpegStartUpAlone")->Iterations(30)->Unit(benchmark::kMillisecond);

}  // namespace
