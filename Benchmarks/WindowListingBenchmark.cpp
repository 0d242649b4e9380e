// One listing of an app's 12 windows of 1280 × 800 with their pictures, on the X display named
// by QUIB_TEST_DISPLAY (else DISPLAY), under its window manager. Ours is the window list as the
// host makes it: the windows read from both sides, then a picture of each on up to four threads,
// each a composite-pixmap grab on a connection of its own, scaled by swscale's area filter to
// 320 × 200 and saved as JPEG by gdk-pixbuf. The baseline takes the same pictures one after
// another with XGetImage on one connection, scaled on one thread, with the same JPEG encoder.
// Each reports the 50th, 95th and 99th percentile in milliseconds.
extern "C" {
#include <libswscale/swscale.h>
}

#include <benchmark/benchmark.h>

#include <X11/Xutil.h>

#include <unistd.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "Benchmarks/LatencyCounters.hpp"
#include "Benchmarks/Support/BenchmarkDisplay.hpp"
#include "Platform/Linux/PixbufJpegEncoder.hpp"
#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/Linux/X11/X11Desktop.hpp"
#include "QuibHost/Streaming/WindowListing.hpp"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int windowCount = 12, windowWidth = 1280, windowHeight = 800;
constexpr const char* appID = "quib-bench-probe";

using quib::bench::displayName;

// Twelve painted windows of one app, claimed by a desktop entry in a folder of their own.
class TestApp {
public:
    static TestApp* shared() {
        static std::unique_ptr<TestApp> app = make();
        return app.get();
    }
    ~TestApp() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::filesystem::path folder;
    std::shared_ptr<quib::X11Connection> connection;
    std::vector<Window> windows;

private:
    static std::unique_ptr<TestApp> make() {
        auto made = std::make_unique<TestApp>();
        made->connection = quib::X11Connection::open(displayName());
        if (!made->connection) return nullptr;
        made->folder = std::filesystem::temp_directory_path() / ("quib-bench-apps-" + std::to_string(::getpid()));
        std::filesystem::create_directories(made->folder);
        std::ofstream(made->folder / (std::string(appID) + ".desktop"))
            << "[Desktop Entry]\nType=Application\nName=Bench "
               "Probe\nExec=quib-bench-probe\nStartupWMClass=QuibBenchProbe\n";
        made->connection->use([&](Display* display) {
            for (int i = 0; i < windowCount; ++i) made->windows.push_back(window(display, i));
            XSync(display, False);
        });
        std::this_thread::sleep_for(std::chrono::seconds(1));  // the window manager takes them on
        return made;
    }
    static Window window(Display* display, int index) {
        const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 20 * index, 10 * index,
                                                  windowWidth, windowHeight, 0, 0, 0xF8F8F8);
        XClassHint hint{const_cast<char*>(appID), const_cast<char*>("QuibBenchProbe")};
        XSetClassHint(display, window, &hint);
        XMapWindow(display, window);
        XSync(display, False);
        const GC gc = XCreateGC(display, window, 0, nullptr);
        XSetForeground(display, gc, 0x3050A0u + static_cast<unsigned>(index) * 0x0A0A0Au);
        for (int y = 0; y < windowHeight; y += 40) XFillRectangle(display, window, gc, 0, y, windowWidth, 12);
        XFreeGC(display, gc);
        return window;
    }
};

void ours(benchmark::State& state) {
    auto* app = TestApp::shared();
    if (!app) return state.SkipWithError("no X display (QUIB_TEST_DISPLAY or DISPLAY)");
    const auto apps = std::make_shared<quib::DesktopEntries>(std::vector{app->folder});
    auto desktop = quib::X11Desktop::open(displayName(), apps);
    if (!desktop) return state.SkipWithError("the desktop does not open");
    quib::WindowListing listing({.desktop = desktop->services,
                                 .permissions = desktop->permissions,
                                 .apps = apps,
                                 .jpeg = std::make_shared<quib::PixbufJpegEncoder>()});
    std::vector<double> millis;
    for (auto _ : state) {
        const auto began = Clock::now();
        const auto list = listing.windows(appID, std::nullopt, true);
        millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - began).count());
        const auto pictured = std::ranges::count_if(list.windows, [](const auto& w) { return w.preview.has_value(); });
        if (list.windows.size() != windowCount || pictured != windowCount)
            return state.SkipWithError("not every window was pictured");
    }
    quib::bench::reportLatencies(state, millis);
}
BENCHMARK(ours)->Name("Ours/twelveWindows")->Iterations(20)->Unit(benchmark::kMillisecond);

void baseline(benchmark::State& state) {
    auto* app = TestApp::shared();
    if (!app) return state.SkipWithError("no X display (QUIB_TEST_DISPLAY or DISPLAY)");
    const auto size = quib::WindowListing::previewSize(windowWidth, windowHeight);
    quib::PixbufJpegEncoder jpeg;
    std::vector<double> millis;
    for (auto _ : state) {
        const auto began = Clock::now();
        for (const Window window : app->windows) {
            XImage* image = nullptr;
            app->connection->use([&](Display* display) {
                image = XGetImage(display, window, 0, 0, windowWidth, windowHeight, AllPlanes, ZPixmap);
            });
            if (!image) return state.SkipWithError("XGetImage failed");
            SwsContext* context = sws_getContext(windowWidth, windowHeight, AV_PIX_FMT_BGR0, size.width, size.height,
                                                 AV_PIX_FMT_RGB24, SWS_AREA, nullptr, nullptr, nullptr);
            quib::RgbPicture picture{size.width, size.height,
                                     quib::Bytes(static_cast<std::size_t>(size.width * size.height * 3))};
            const std::uint8_t* source[] = {reinterpret_cast<const std::uint8_t*>(image->data)};
            const int sourceStride[] = {image->bytes_per_line};
            std::uint8_t* target[] = {picture.pixels.data()};
            const int targetStride[] = {static_cast<int>(picture.stride())};
            sws_scale(context, source, sourceStride, 0, windowHeight, target, targetStride);
            sws_freeContext(context);
            XDestroyImage(image);
            if (!jpeg.encode(picture, 50)) return state.SkipWithError("the JPEG failed");
        }
        millis.push_back(std::chrono::duration<double, std::milli>(Clock::now() - began).count());
    }
    quib::bench::reportLatencies(state, millis);
}
BENCHMARK(baseline)->Name("XGetImageOneByOne/twelveWindows")->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace
