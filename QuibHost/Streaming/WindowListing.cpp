#include "QuibHost/Streaming/WindowListing.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <set>

#include "Platform/Freedesktop/DesktopEntries.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/Required.hpp"
#include "Runtime/WorkerThread.hpp"

namespace quib {
namespace {

std::int64_t truncated(double points) {
    return std::isfinite(points) ? static_cast<std::int64_t>(std::clamp(std::trunc(points), -1e15, 1e15)) : 0;
}

bool isLarge(double width, double height) {
    return width > WindowListing::smallestSide && height > WindowListing::smallestSide;
}

// A card with what every listed window has; the caller fills in the rest.
MacWindow cardOf(std::uint32_t id, const std::string& title, const std::string& appName,
                 std::optional<std::uint32_t> pinned) {
    MacWindow card;
    card.id = id;
    card.title = title;
    card.appName = appName;
    card.isPinned = pinned == id;
    return card;
}

}  // namespace

WindowListing::WindowListing(Config config)
    : desktop_(std::move(config.desktop)),
      permissions_(required(std::move(config.permissions), "WindowListing", "permissions")),
      apps_(std::move(config.apps)),
      jpeg_(std::move(config.jpeg)),
      clock_(config.clock ? std::move(config.clock) : SystemClock::shared()),
      previewThreads_(std::max(config.previewThreads, 1)) {
    required(desktop_.workspace, "WindowListing", "workspace");
    required(desktop_.roster, "WindowListing", "window roster");
    required(desktop_.windowSource, "WindowListing", "window source");
}

WindowListService::WindowList WindowListing::windows(const std::string& bundleID, std::optional<std::uint32_t> pinned,
                                                     bool withPreviews) {
    const MonoTime deadline = clock_->now() + timeLimit;
    if (desktop_.workspace->runningInstances(bundleID).empty()) return {{}, std::string(notRunningNote)};
    const std::string name = appName(bundleID);
    const auto accessible = desktop_.roster->accessibleWindows(bundleID);
    const auto content = shareableContent(deadline);
    std::vector<WindowSource::Window> candidates;
    if (content) {
        std::ranges::copy_if(*content, std::back_inserter(candidates), [&](const WindowSource::Window& window) {
            return window.owner && window.owner->bundleID == bundleID && window.layer == 0;
        });
    }
    WindowList list{join(accessible, candidates, name, pinned), std::nullopt};
    list.note = note(list.windows, permissions_->accessibilityTrusted(), content.has_value());
    if (!withPreviews || !content) return list;
    const auto pictures = previews(list.windows, *content, deadline);
    for (auto& window : list.windows) {
        const auto found = pictures.find(window.id);
        if (found != pictures.end()) window.preview = found->second;
    }
    return list;
}

std::string WindowListing::appName(const std::string& bundleID) const {
    if (!apps_) return bundleID;
    const auto installed = apps_->installed();
    const auto entry = DesktopEntries::find(installed, bundleID);
    const std::string name = entry ? entry->localizedName() : std::string();
    return name.empty() ? bundleID : name;
}

// Read only with the right to capture, which is checked without asking for it; an answer after
// the limit counts as none.
std::optional<std::vector<WindowSource::Window>> WindowListing::shareableContent(MonoTime deadline) {
    if (!permissions_->screenRecordingGranted()) return std::nullopt;
    auto windows = desktop_.windowSource->shareableWindows();
    if (clock_->now() >= deadline) return std::nullopt;
    return windows;
}

// The accessibility side first, in its order, then what only capture shows; sorted stably and
// cut to the cap.
std::vector<MacWindow> WindowListing::join(const std::vector<WindowRoster::AccessibleWindow>& accessible,
                                           const std::vector<WindowSource::Window>& candidates,
                                           const std::string& appName, std::optional<std::uint32_t> pinned) const {
    CaptureTable byNumber;
    for (const auto& window : candidates) byNumber[window.number] = window;
    std::set<std::uint32_t> seen;
    std::vector<MacWindow> listed;
    for (const auto& window : accessible) {
        if (!window.number || !seen.insert(*window.number).second) continue;
        const auto captured = byNumber.find(*window.number);
        const bool known = captured != byNumber.end();
        std::optional<WindowRoster::WindowSize> size = window.size;
        if (known) size = WindowRoster::WindowSize{captured->second.frame.width, captured->second.frame.height};
        if (size && !isLarge(size->width, size->height)) continue;
        MacWindow card = cardOf(*window.number, window.title, appName, pinned);
        card.isMinimized = window.minimised;
        card.isOnScreen = !window.minimised && (!known || captured->second.onScreen);
        card.isFrontmost = window.main && !window.minimised;
        if (known) {
            card.width = truncated(captured->second.frame.width);
            card.height = truncated(captured->second.frame.height);
        }
        listed.push_back(std::move(card));
    }
    for (const auto& window : candidates) {
        if (!isLarge(window.frame.width, window.frame.height) || !window.onScreen) continue;
        if (!seen.insert(window.number).second) continue;
        MacWindow card = cardOf(window.number, window.title, appName, pinned);
        card.width = truncated(window.frame.width);
        card.height = truncated(window.frame.height);
        card.canRaise = false;
        listed.push_back(std::move(card));
    }
    std::ranges::stable_sort(listed, [](const MacWindow& a, const MacWindow& b) {
        if (a.isFrontmost != b.isFrontmost) return a.isFrontmost;
        if (a.isOnScreen != b.isOnScreen) return a.isOnScreen;
        return a.width * a.height > b.width * b.height;
    });
    if (listed.size() > listCap) listed.resize(listCap);
    return listed;
}

std::optional<std::string> WindowListing::note(const std::vector<MacWindow>& kept, bool trusted, bool hasContent) {
    if (kept.empty()) return std::string(trusted ? noWindowsNote : accessibilityNote);
    if (!hasContent) return std::string(screenRecordingNote);
    if (std::ranges::any_of(kept, &MacWindow::isMinimized)) return std::string(minimisedNote);
    if (std::ranges::any_of(kept, [](const MacWindow& w) { return !w.canRaise; })) return std::string(cannotRaiseNote);
    return std::nullopt;
}

// One job a window that shows something, on a few threads; a job that has not begun by the
// deadline is skipped, and a picture that comes after it is dropped. Every job is waited for.
std::map<std::uint32_t, Bytes> WindowListing::previews(const std::vector<MacWindow>& windows,
                                                       const std::vector<WindowSource::Window>& content,
                                                       MonoTime deadline) {
    CaptureTable byNumber;
    for (const auto& window : content) byNumber.emplace(window.number, window);
    std::vector<WindowSource::Window> jobs;
    for (const auto& window : windows) {
        const auto found = byNumber.find(window.id);
        if (!window.isMinimized && window.isOnScreen && found != byNumber.end()) jobs.push_back(found->second);
    }
    std::map<std::uint32_t, Bytes> pictures;
    if (jobs.empty() || !jpeg_) return pictures;
    Mutex lock;  // guards `pictures`, a local, which the analysis cannot mark
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t at = next++; at < jobs.size(); at = next++) {
            if (clock_->now() >= deadline) continue;
            auto picture = preview(jobs[at]);
            if (!picture || clock_->now() >= deadline) continue;
            MutexLock hold(lock);
            pictures.emplace(jobs[at].number, std::move(*picture));
        }
    };
    {
        std::vector<std::unique_ptr<WorkerThread>> threads;
        const auto count = std::min<std::size_t>(jobs.size(), static_cast<std::size_t>(previewThreads_));
        for (std::size_t i = 0; i < count; ++i)
            threads.push_back(std::make_unique<WorkerThread>(previewThreadLabel, work));
    }
    return pictures;
}

std::optional<Bytes> WindowListing::preview(const WindowSource::Window& window) {
    const auto size = previewSize(window.frame.width, window.frame.height);
    const auto picture = desktop_.windowSource->windowPicture(window.number, size.width, size.height);
    if (!picture) return std::nullopt;
    return jpeg_->encode(picture.value(), previewQuality);
}

WindowListing::PreviewSize WindowListing::previewSize(double width, double height) {
    const double longSide = std::max(width, height);
    const double scale = longSide > 1 ? std::min(previewLongSide / longSide, 1.0) : 1.0;
    auto side = [&](double points) {
        const double scaled = std::isfinite(points) ? std::trunc(points * scale) : 0;
        return static_cast<int>(std::clamp(scaled, static_cast<double>(previewSmallestSide), previewLongSide));
    };
    return {side(width), side(height)};
}

}  // namespace quib
