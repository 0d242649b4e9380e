#pragma once

// Before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <X11/Xutil.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "Platform/Linux/X11/X11ClientWindows.hpp"
#include "Platform/Linux/X11/X11Connection.hpp"
#include "Platform/RgbPicture.hpp"
#include "Platform/WindowStream.hpp"
#include "Runtime/SerialQueue.hpp"
#include "Tests/Support/ChildProcess.hpp"
#include "Tests/Support/ScratchFolder.hpp"
#include "Tests/Support/X11/ClientWindow.hpp"
#include "Tests/Support/X11/TestDisplay.hpp"

namespace quib::testing {

// A colour as 0xRRGGBB, as the test display's 24-bit TrueColor pixels hold it.
struct Colour {
    int red = 0, green = 0, blue = 0;
    std::uint32_t pixel() const { return static_cast<std::uint32_t>(red << 16 | green << 8 | blue); }
    bool near(const Colour& other, int tolerance = 6) const {
        return std::abs(red - other.red) <= tolerance && std::abs(green - other.green) <= tolerance &&
               std::abs(blue - other.blue) <= tolerance;
    }
    bool operator==(const Colour&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Colour& colour) {
    return out << "rgb(" << colour.red << ", " << colour.green << ", " << colour.blue << ")";
}

constexpr Colour red{220, 30, 40}, green{30, 200, 60}, blue{40, 50, 210}, yellow{230, 210, 40};

// The colour of a picture's pixel, back from full-range BT.709 Y'CbCr.
inline Colour colourAt(const PixelBuffer& picture, int x, int y) {
    const double luma = picture.row(0, y)[x];
    const double cb = picture.row(1, y / 2)[x / 2] - 128.0, cr = picture.row(2, y / 2)[x / 2] - 128.0;
    const auto channel = [](double value) { return static_cast<int>(std::lround(std::clamp(value, 0.0, 255.0))); };
    return {channel(luma + 1.5748 * cr), channel(luma - 0.1873 * cb - 0.4681 * cr), channel(luma + 1.8556 * cb)};
}

// The colour at a fraction of the picture's width and height.
inline Colour colourAt(const PixelBuffer& picture, double x, double y) {
    return colourAt(picture, static_cast<int>(x * picture.width()), static_cast<int>(y * picture.height()));
}

// Keeps `png` as `name` in the artifacts folder ($QUIB_ARTIFACTS_DIR/capture), when there is one.
inline void keepArtifact(const std::string& name, const Bytes& png) {
    const char* folder = std::getenv("QUIB_ARTIFACTS_DIR");
    if (!folder || !*folder) return;
    const std::filesystem::path path = std::filesystem::path(folder) / "capture" / name;
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
}

// A captured picture as RGB, for a PNG of it.
inline RgbPicture rgbOf(const PixelBuffer& picture) {
    RgbPicture rgb = RgbPicture::filled(picture.width(), picture.height(), {0, 0, 0});
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const Colour colour = colourAt(picture, x, y);
            const std::size_t at = static_cast<std::size_t>(y) * rgb.stride() + static_cast<std::size_t>(x) * 3;
            rgb.pixels[at] = static_cast<std::uint8_t>(colour.red);
            rgb.pixels[at + 1] = static_cast<std::uint8_t>(colour.green);
            rgb.pixels[at + 2] = static_cast<std::uint8_t>(colour.blue);
        }
    }
    return rgb;
}

// Samples of a stream, as they reach its executor. What the handlers record outlives the log,
// as a stream stopped may still deliver.
class SampleLog {
public:
    WindowStream::Handlers handlers() {
        return {[state = state_](WindowStream::Sample sample) {
                    std::lock_guard lock(state->mutex);
                    state->samples.push_back(std::move(sample));
                    state->changed.notify_all();
                },
                [state = state_](std::string description) {
                    std::lock_guard lock(state->mutex);
                    state->stops.push_back(std::move(description));
                    state->changed.notify_all();
                },
                [state = state_] {
                    std::lock_guard lock(state->mutex);
                    ++state->gone;
                    state->changed.notify_all();
                }};
    }

    // Waits until `condition` holds of the samples so far; false when it does not in `timeout`.
    bool waitFor(const std::function<bool(const std::vector<WindowStream::Sample>&)>& condition,
                 std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock lock(state_->mutex);
        return state_->changed.wait_for(lock, timeout, [&] { return condition(state_->samples); });
    }
    // The first picture after sample `from` that `accept` takes, waiting for it.
    std::shared_ptr<const PixelBuffer> pictureAfter(std::size_t from,
                                                    const std::function<bool(const WindowStream::Sample&)>& accept = {},
                                                    std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::shared_ptr<const PixelBuffer> found;
        waitFor(
            [&](const auto& samples) {
                for (std::size_t i = from; i < samples.size(); ++i) {
                    if (samples[i].picture && (!accept || accept(samples[i]))) {
                        found = samples[i].picture;
                        return true;
                    }
                }
                return false;
            },
            timeout);
        return found;
    }
    std::size_t size() {
        std::lock_guard lock(state_->mutex);
        return state_->samples.size();
    }
    std::vector<WindowStream::Sample> since(std::size_t from) {
        std::lock_guard lock(state_->mutex);
        const auto& samples = state_->samples;
        return {samples.begin() + static_cast<std::ptrdiff_t>(std::min(from, samples.size())), samples.end()};
    }
    // Lets go of every picture received so far, so that the stream's pool has them back.
    void dropPictures() {
        std::lock_guard lock(state_->mutex);
        for (auto& sample : state_->samples) sample.picture.reset();
    }
    std::vector<std::string> stops() {
        std::lock_guard lock(state_->mutex);
        return state_->stops;
    }
    bool waitForStop(std::chrono::milliseconds timeout) {
        std::unique_lock lock(state_->mutex);
        return state_->changed.wait_for(lock, timeout, [&] { return !state_->stops.empty(); });
    }
    // Waits until the stream says its window has gone; false when it does not in `timeout`.
    bool waitForGone(std::chrono::milliseconds timeout) {
        std::unique_lock lock(state_->mutex);
        return state_->changed.wait_for(lock, timeout, [&] { return state_->gone > 0; });
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<WindowStream::Sample> samples;
        std::vector<std::string> stops;
        int gone = 0;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Windows of the app "quib-capture-probe" (a desktop entry in a folder of the test's own claims
// their class) on the shared test display, painted by the test, and a connection of its own.
class CaptureTest : public ::testing::Test {
protected:
    static constexpr const char* probeApp = "quib-capture-probe";
    // The app of xterms of the class "QuibTerm".
    static constexpr const char* termApp = "quib-term-probe";

    // A real X client: an xterm and its top-level window.
    struct Xterm {
        std::optional<ChildProcess> process;
        Window window = None;
    };

    void SetUp() override {
        QUIB_REQUIRE_TEST_DISPLAY();
        std::ofstream(apps.path / (std::string(probeApp) + ".desktop"))
            << "[Desktop Entry]\nType=Application\nName=Capture Probe\nExec=quib-capture-probe\n"
               "StartupWMClass=QuibCaptureProbe\n";
        std::ofstream(apps.path / (std::string(termApp) + ".desktop"))
            << "[Desktop Entry]\nType=Application\nName=Term Probe\nExec=xterm -class QuibTerm\n"
               "StartupWMClass=QuibTerm\n";
        control = X11Connection::open(testDisplayName());
        ASSERT_TRUE(control);
    }

    std::unique_ptr<ClientWindow> openWindow(std::string title = "Capture probe") {
        auto window = ClientWindow::open(
            testDisplayName(),
            {.instance = probeApp, .className = "QuibCaptureProbe", .netTitle = title, .processID = 4321});
        EXPECT_TRUE(window);
        return window;
    }

    // An xterm of `className` on a `background` (#rrggbb) running `command` (none: a shell),
    // once the window manager lists its window; no window, with a failure, when it does not.
    Xterm startXterm(const std::string& className, const std::string& background,
                     const std::vector<std::string>& command = {}, const std::string& geometry = "60x12+40+40") {
        std::vector<std::string> arguments{"xterm", "-class", className,   "-bg",   background,
                                           "-fg",   "black",  "-geometry", geometry};
        if (!command.empty()) {
            arguments.push_back("-e");
            arguments.insert(arguments.end(), command.begin(), command.end());
        }
        Xterm xterm;
        auto started = ChildProcess::start(arguments, {{"DISPLAY", testDisplayName()}}, apps.path / "xterm.log");
        if (!started) {
            ADD_FAILURE() << "cannot start xterm";
            return xterm;
        }
        xterm.process.emplace(std::move(*started));
        const auto pid = xterm.process->pid();
        const bool listed = eventually([&] {
            control->use([&](Display* display) {
                for (const Window window : X11ClientWindows::clients(display))
                    if (X11ClientWindows::processID(display, window) == pid) xterm.window = window;
            });
            return xterm.window != None;
        });
        EXPECT_TRUE(listed) << "the xterm's window was never listed";
        return xterm;
    }
    // Ends the xterm and waits until its window is no longer listed.
    void closeXterm(Xterm& xterm) {
        const Window window = xterm.window;
        xterm.process.reset();
        EXPECT_TRUE(eventually([&] {
            bool listed = false;
            control->use([&](Display* display) {
                const auto clients = X11ClientWindows::clients(display);
                listed = std::ranges::find(clients, window) != clients.end();
            });
            return !listed;
        })) << "the xterm's window stayed";
    }

    // Fills the window with one colour per quadrant: top left, top right, bottom left, bottom right.
    static void paint(ClientWindow& window, std::array<Colour, 4> quadrants) {
        window.use([&](Display* display) {
            Window root = None;
            int x = 0, y = 0;
            unsigned int width = 0, height = 0, border = 0, depth = 0;
            XGetGeometry(display, window.window(), &root, &x, &y, &width, &height, &border, &depth);
            const GC gc = XCreateGC(display, window.window(), 0, nullptr);
            const int halfWidth = static_cast<int>(width / 2), halfHeight = static_cast<int>(height / 2);
            for (int quadrant = 0; quadrant < 4; ++quadrant) {
                XSetForeground(display, gc, quadrants[quadrant].pixel());
                XFillRectangle(display, window.window(), gc, quadrant % 2 ? halfWidth : 0,
                               quadrant / 2 ? halfHeight : 0, width - static_cast<unsigned int>(halfWidth),
                               height - static_cast<unsigned int>(halfHeight));
            }
            XFreeGC(display, gc);
            XSync(display, False);
        });
    }
    static void paint(ClientWindow& window, Colour colour) { paint(window, {colour, colour, colour, colour}); }
    // Fills the window's rows from `top` up to `bottom` with `colour`, across its whole width.
    static void paintRows(ClientWindow& window, int top, int bottom, Colour colour) {
        window.use([&](Display* display) {
            const GC gc = XCreateGC(display, window.window(), 0, nullptr);
            XSetForeground(display, gc, colour.pixel());
            XFillRectangle(display, window.window(), gc, 0, top, 4096, static_cast<unsigned int>(bottom - top));
            XFreeGC(display, gc);
            XSync(display, False);
        });
    }

    template <class Body>
    void withControl(Body&& body) {
        control->use([&](Display* display) {
            body(display);
            XSync(display, False);
        });
    }

    void warpPointer(int x, int y) {
        withControl(
            [&](Display* display) { XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, x, y); });
    }

    std::optional<Rect> frameOf(Window window) {
        std::optional<Rect> frame;
        control->use([&](Display* display) { frame = X11ClientWindows::frame(display, window); });
        return frame;
    }

    ScratchFolder apps{"quib-capture"};
    std::shared_ptr<X11Connection> control;
    std::shared_ptr<SerialQueue> queue = std::make_shared<SerialQueue>("capture-test");
};

}  // namespace quib::testing
