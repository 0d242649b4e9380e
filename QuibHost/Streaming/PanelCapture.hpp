#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Platform/PixelBuffer.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Geometry.hpp"
#include "Shared/UnitSpot.hpp"

namespace quib {

// The window capture as the panel streamer drives it: which window to follow for how large a
// picture of which part, and what it saw. Called from the streamer's one serial queue; the
// readings are safe on any thread.
class PanelCapture {
public:
    // A picture, when it was taken, the part of the window it shows and the captured window's
    // generation.
    using FrameHandler = std::function<void(std::shared_ptr<const PixelBuffer> picture, MonoTime presentationTime,
                                            const Rect& crop, std::int64_t generation)>;
    // A sentence for the viewer instead of a picture, and whether the phone may offer to open
    // the window.
    using StateHandler = std::function<void(const std::string& reason, bool canOpen)>;

    virtual ~PanelCapture() = default;
    // Follows `bundleID`'s app (none: the frontmost app), or its pinned `windowID`, for pictures
    // up to `maxWidth` × `maxHeight` of `crop` (unit coordinates of the window).
    virtual void start(std::optional<std::string> bundleID, std::optional<std::uint32_t> windowID,
                       std::int64_t maxWidth, std::int64_t maxHeight, const Rect& crop) = 0;
    virtual void stop() = 0;
    // The next picture is delivered whatever it shows.
    virtual void requestFrame() = 0;
    // The captured window's frame on the screen; none while no window is captured.
    virtual std::optional<Rect> windowFrame() const = 0;
    // Changes whenever the captured window changes or the capture stops.
    virtual std::int64_t currentGeneration() const = 0;
    // The captured window's corner radius over its width; none when it has none worth drawing.
    virtual std::optional<double> cornerFraction() const = 0;
    // The pointer on the captured window; none while it is off the window.
    virtual std::optional<UnitSpot> pointerInWindow() const = 0;
};

}  // namespace quib
