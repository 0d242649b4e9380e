#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/DesktopServices.hpp"
#include "Platform/PngEncoder.hpp"
#include "QuibHost/Streaming/ScreenAccess.hpp"
#include "QuibHost/Streaming/StillCaptureService.hpp"
#include "Runtime/Executor.hpp"

namespace quib {

// One still picture of a target, as PNG: an app target's best window; the frontmost app's best
// window, or the display under the pointer when that app is the host itself or has no window to
// show; a tmux target's display. The picture is the window's own contents (or the display's),
// never the cursor, scaled down to the long edge the phone wants and never enlarged.
//
// Keeps no state between requests. Captures run one after another on a queue of their own.
class StillCapture final : public StillCaptureService, public std::enable_shared_from_this<StillCapture> {
public:
    static constexpr std::string_view queueLabel = "com.brenmoor.quib.host.still";
    // Nothing smaller is made on the long side, whatever the phone asks.
    static constexpr double smallestLongEdge = 320;
    // A window must be wider and taller than this many points to be photographed.
    static constexpr double smallestWindowSide = 120;

    struct Config {
        DesktopServices desktop = {};                          // window source, workspace, pointer, displays: required
        std::shared_ptr<ScreenAccess> screenAccess = nullptr;  // required
        std::shared_ptr<PngEncoder> png = nullptr;             // none: no picture can be encoded
        std::shared_ptr<Executor> queue = nullptr;             // none: one made with queueLabel
        std::int64_t hostProcessID = 0;                        // 0: this process
    };

    struct PixelSize {
        std::int64_t width = 0;
        std::int64_t height = 0;
        bool operator==(const PixelSize&) const = default;
    };

    explicit StillCapture(Config config);

    // Takes the picture on the capture queue and hands the outcome to `done` there. The capture
    // lives until it has answered.
    void capture(const QuibTarget& target, std::int64_t maxLongEdge, std::function<void(Outcome)> done) override;
    // The same, on the caller's thread.
    Outcome captureNow(const QuibTarget& target, std::int64_t maxLongEdge);

    // The pixels of a picture of `width` × `height` points at `scale` pixels a point (none: 2),
    // shrunk to fit `maxLongEdge` on its long side (at least smallestLongEdge), never enlarged,
    // rounded down; at least one pixel a side.
    static PixelSize outputSize(double width, double height, std::optional<double> scale, std::int64_t maxLongEdge);

private:
    Outcome shootWindow(const WindowSource::Window& window, const QuibTarget& target, std::int64_t maxLongEdge);
    Outcome shootDisplay(std::int64_t maxLongEdge);
    Outcome encode(const Result<RgbPicture>& picture, std::string title);
    // The frontmost app's desktop ID, unless it is none or the host itself.
    std::optional<std::string> frontmostOtherApp();

    DesktopServices desktop_;
    std::shared_ptr<ScreenAccess> screenAccess_;
    std::shared_ptr<PngEncoder> png_;
    std::shared_ptr<Executor> queue_;
    std::int64_t hostProcessID_;
};

}  // namespace quib
