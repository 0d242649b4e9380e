#include "QuibHost/Targets/EventInjector.hpp"

#include <cmath>

#include "Runtime/Required.hpp"
#include "Runtime/SerialQueue.hpp"

namespace quib {

std::shared_ptr<EventInjector> EventInjector::create(Config config) {
    auto injector = std::make_shared<EventInjector>(Passkey{}, std::move(config));
    injector->watchDisplays();
    return injector;
}

EventInjector::EventInjector(Passkey, Config config)
    : desktop_(driven(std::move(config.desktop))),
      permissions_(std::move(config.permissions)),
      clock_(config.clock ? std::move(config.clock) : SystemClock::shared()),
      sleeper_(config.sleeper ? std::move(config.sleeper) : SystemSleeper::shared()),
      instrumentation_(config.instrumentation ? *config.instrumentation : Instrumentation::shared()),
      pasteboardQueue_(config.pasteboardQueue
                           ? std::move(config.pasteboardQueue)
                           : std::make_shared<SerialQueue>("com.brenmoor.quib.host.pasteboard", clock_)),
      // Read once: a change of the setting takes effect at the next start.
      followsWindows_(config.settings ? config.settings->get(followPointerKey) : true) {}

EventInjector::~EventInjector() = default;

DesktopServices EventInjector::driven(DesktopServices desktop) {
    (void)required(desktop.events, "EventInjector", "event poster");
    (void)required(desktop.pointer, "EventInjector", "pointer location");
    (void)required(desktop.displays, "EventInjector", "display list");
    (void)required(desktop.accessibility, "EventInjector", "accessibility probe");
    (void)required(desktop.pasteboard, "EventInjector", "pasteboard");
    return desktop;
}

// Every change of the displays clears the cached bounds. The watch holds the injector weakly.
void EventInjector::watchDisplays() {
    displayWatch_ = desktop_.displays->onChange([weak = weak_from_this()] {
        if (auto injector = weak.lock()) injector->clearDisplayCache();
    });
}

bool EventInjector::isPaused() const {
    MutexLock lock(stateLock_);
    return paused_;
}

// Nothing may stay pressed, and no gesture stay open, while injection is off.
void EventInjector::setPaused(bool paused) {
    {
        MutexLock lock(stateLock_);
        paused_ = paused;
    }
    if (!paused) return;
    releaseAllButtons();
    resetScrollPhase();
}

bool EventInjector::apiDisabled() const {
    MutexLock lock(stateLock_);
    return apiDisabled_;
}

bool EventInjector::revalidateTrust() {
    const std::int32_t error = desktop_.accessibility->focusedElementError();
    {
        MutexLock lock(stateLock_);
        apiDisabled_ = error == AccessibilityProbe::apiDisabled;
    }
    return isTrusted();
}

bool EventInjector::isTrusted() const { return permissions_ && permissions_->accessibilityTrusted() && !apiDisabled(); }

void EventInjector::clearDisplayCache() {
    MutexLock lock(displayLock_);
    cachedDisplayRects_.reset();
    ++displayGeneration_;
}

// The desktop is asked outside the lock; its answer is cached only when no change came
// meanwhile, and never when it failed or listed no display.
std::shared_ptr<const std::vector<Rect>> EventInjector::displayRects() {
    std::uint64_t generation = 0;
    {
        MutexLock lock(displayLock_);
        if (cachedDisplayRects_) return cachedDisplayRects_;
        generation = displayGeneration_;
    }
    auto bounds = desktop_.displays->activeDisplayBounds();
    if (!bounds || bounds->empty()) return std::make_shared<const std::vector<Rect>>();
    auto rects = std::make_shared<const std::vector<Rect>>(std::move(*bounds));
    MutexLock lock(displayLock_);
    if (generation == displayGeneration_) cachedDisplayRects_ = rects;
    return rects;
}

// A point off every display goes to the nearest pixel of the nearest display, one point inside
// its far edges; on equal distances (infinite ones too) the display listed first wins.
Point EventInjector::clampToDisplays(Point point) {
    const auto rects = displayRects();
    if (rects->empty()) return point;
    for (const Rect& rect : *rects) {
        if (rect.contains(point)) return point;
    }
    const auto nearest = [&point](const Rect& rect) {
        return Point{std::min(std::max(point.x, rect.minX()), std::max(rect.minX(), rect.maxX() - 1)),
                     std::min(std::max(point.y, rect.minY()), std::max(rect.minY(), rect.maxY() - 1))};
    };
    const auto distance = [&point](const Point& candidate) {
        return std::hypot(candidate.x - point.x, candidate.y - point.y);
    };
    Point best = nearest(rects->front());
    double bestDistance = distance(best);
    for (const Rect& rect : *rects) {
        const Point candidate = nearest(rect);
        if (const double d = distance(candidate); d < bestDistance) {
            best = candidate;
            bestDistance = d;
        }
    }
    return best;
}

}  // namespace quib
