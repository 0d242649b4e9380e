#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/DesktopServices.hpp"
#include "Platform/Freedesktop/InstalledApps.hpp"
#include "Platform/JpegEncoder.hpp"
#include "Platform/Permissions.hpp"
#include "QuibHost/Streaming/WindowListService.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/HostWords.hpp"

namespace quib {

// The windows of an app a phone picks from, joined from two sides: the accessibility side (the
// roster), which knows titles, the minimised and main flags and can raise a window, and the
// capture side (the window source), which knows frames and what is on screen and can photograph
// a window. A window of the accessibility side is listed whether or not capture knows it; one
// only capture knows is listed only while on screen, as one that cannot be raised. At most 12,
// the frontmost first, then those on screen, then the larger; each with a small JPEG picture
// when capture is allowed, and a note that says why the list is empty, why cards have no
// pictures, or why some are dimmed.
//
// Reading the capture side and each picture has a limit of 2 s on the clock, all counted from
// the start of the listing; a late answer is waited for and then dropped. Pictures are taken on
// up to four threads at once, each on a connection of its own. Any thread but the main one.
class WindowListing final : public WindowListService {
public:
    static constexpr std::string_view previewThreadLabel = "com.brenmoor.quib.host.preview";
    static constexpr Duration timeLimit = std::chrono::seconds(2);
    static constexpr std::size_t listCap = 12;
    static constexpr double smallestSide = 120;  // points, exclusive
    static constexpr double previewLongSide = 320;
    static constexpr int previewSmallestSide = 8;
    static constexpr int previewQuality = 50;

    static constexpr std::string_view notRunningNote = "isn't running, so it has no windows open yet.";
    static constexpr std::string_view noWindowsNote = "is running but has no windows open.";
    static constexpr std::string_view accessibilityNote =
        said<HostWords::product, " needs ", HostWords::inputNeed, " to see and pick its windows.">;
    static constexpr std::string_view screenRecordingNote =
        said<HostWords::product, " needs ", HostWords::captureNeed, " to see a picture of each window.">;
    static constexpr std::string_view minimisedNote =
        said<"A dimmed card is minimised. Tap it and ", HostWords::product, " will bring it back.">;
    static constexpr std::string_view cannotRaiseNote =
        said<"A dimmed card is one ", HostWords::product, " can mirror but can't bring forward.">;

    struct Config {
        DesktopServices desktop = {};                        // workspace, roster and window source: required
        std::shared_ptr<Permissions> permissions = nullptr;  // required
        std::shared_ptr<InstalledApps> apps = nullptr;       // the apps' names; none: their bundle identifiers
        std::shared_ptr<JpegEncoder> jpeg = nullptr;         // none: no pictures
        std::shared_ptr<Clock> clock = nullptr;              // none: the system clock
        int previewThreads = 4;
    };

    struct PreviewSize {
        int width = 0;
        int height = 0;
        bool operator==(const PreviewSize&) const = default;
    };

    explicit WindowListing(Config config);

    WindowList windows(const std::string& bundleID, std::optional<std::uint32_t> pinned, bool withPreviews) override;

    // A preview's pixels for a window of `width` × `height` points: the long side at most 320,
    // never enlarged, each side at least 8.
    static PreviewSize previewSize(double width, double height);

private:
    using CaptureTable = std::map<std::uint32_t, WindowSource::Window>;

    std::optional<std::vector<WindowSource::Window>> shareableContent(MonoTime deadline);
    std::vector<MacWindow> join(const std::vector<WindowRoster::AccessibleWindow>& accessible,
                                const std::vector<WindowSource::Window>& candidates, const std::string& appName,
                                std::optional<std::uint32_t> pinned) const;
    static std::optional<std::string> note(const std::vector<MacWindow>& kept, bool trusted, bool hasContent);
    std::map<std::uint32_t, Bytes> previews(const std::vector<MacWindow>& windows,
                                            const std::vector<WindowSource::Window>& content, MonoTime deadline);
    std::optional<Bytes> preview(const WindowSource::Window& window);
    std::string appName(const std::string& bundleID) const;

    DesktopServices desktop_;
    std::shared_ptr<Permissions> permissions_;
    std::shared_ptr<InstalledApps> apps_;
    std::shared_ptr<JpegEncoder> jpeg_;
    std::shared_ptr<Clock> clock_;
    int previewThreads_;
};

}  // namespace quib
