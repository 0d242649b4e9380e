#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Platform/PixelBuffer.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Geometry.hpp"
#include "Runtime/Result.hpp"

namespace quib {

// A running capture of one window: pictures of it as it changes, each a full-range I420
// PixelBuffer in sRGB that is handed on by reference, never copied. A WindowSource opens it.
//
// Samples and the report of a stop the host did not ask for arrive on the executor the stream
// was opened with, in the order the stream made them. Every operation is safe on any thread and
// returns without waiting for the desktop.
class WindowStream {
public:
    // How the window is captured.
    struct Configuration {
        std::int64_t width = 0;  // of every picture, in pixels
        std::int64_t height = 0;
        // The part of the window captured, in its points from its top left corner; the zero
        // rectangle captures the whole window.
        Rect sourceRect;
        bool scalesToFit = true;           // the source is scaled to the picture,
        bool preservesAspectRatio = true;  // keeping its shape (letterboxed when it differs)
        bool showsCursor = true;
        bool opaque = true;           // the window's transparency is not kept
        bool ignoresShadow = true;    // the window's drop shadow is not captured
        std::int64_t queueDepth = 5;  // pictures the stream may have out at once
        std::chrono::duration<double> minimumFrameInterval{1.0 / 60};
        bool operator==(const Configuration&) const = default;
    };

    // What a sample says about its picture.
    struct FrameStatus {
        static constexpr std::int64_t unknown = -1;   // the desktop gave no status
        static constexpr std::int64_t complete = 0;   // new content
        static constexpr std::int64_t idle = 1;       // nothing changed since the last picture
        static constexpr std::int64_t blank = 2;      // nothing to show
        static constexpr std::int64_t suspended = 3;  // capture is paused
        static constexpr std::int64_t started = 4;    // the first sample of the stream
        static constexpr std::int64_t stopped = 5;    // the last sample of the stream
    };

    struct Sample {
        std::int64_t status = FrameStatus::unknown;  // other numbers may come from a newer desktop
        std::shared_ptr<const PixelBuffer> picture;  // none when the sample carries no picture
        MonoTime presentationTime{};                 // when the picture was taken, on the uptime clock
    };

    struct Handlers {
        std::function<void(Sample)> sample;
        // The desktop stopped the stream on its own; the text says why, in a sentence for the user.
        std::function<void(std::string description)> stopped;
        // The window has gone (closed, or destroyed by its app): the stream has ended without a
        // failure, and a window that takes its number is another one.
        std::function<void()> gone = nullptr;
    };

    virtual ~WindowStream() = default;

    // Captures with `configuration` from now on. `done` runs on the stream's executor after every
    // sample taken with the old configuration and before any taken with the new one; a failure
    // (the desktop may refuse) leaves the old configuration in place.
    virtual void update(const Configuration& configuration, std::function<void(Result<void>)> done) = 0;
    // Takes the next picture even if nothing has changed.
    virtual void requestFrame() = 0;
    // Ends the capture; samples already on their way may still arrive.
    virtual void stop() = 0;
};

}  // namespace quib
