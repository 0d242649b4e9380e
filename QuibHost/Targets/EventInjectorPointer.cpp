// The pointer, click and scroll half of the event injector.

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "QuibHost/Targets/EventInjector.hpp"
#include "Runtime/Mutex.hpp"
#include "Shared/PointerLanding.hpp"

namespace quib {
namespace {

constexpr std::array<MouseButton, 3> buttonOrder{MouseButton::left, MouseButton::right, MouseButton::middle};

bool isFinite(Point point) { return std::isfinite(point.x) && std::isfinite(point.y); }

// The phone's delta for a 64-bit event field: rounded half away from zero, and held at the
// field's limits when it lies beyond them.
std::int64_t deltaField(double delta) {
    const double rounded = std::round(delta);
    if (std::isnan(rounded)) return 0;
    if (rounded >= 0x1p63) return std::numeric_limits<std::int64_t>::max();
    if (rounded <= -0x1p63) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(rounded);
}

// A scroll delta for a 32-bit wheel: rounded half away from zero; none when the result is not
// finite or does not fit.
std::optional<std::int32_t> wheelDelta(double delta) {
    const double rounded = std::round(delta);
    if (!(rounded >= -0x1p31 && rounded < 0x1p31)) return std::nullopt;
    return static_cast<std::int32_t>(rounded);
}

std::int64_t buttonNumber(MouseButton button) {
    switch (button) {
        case MouseButton::left: return EventButton::left;
        case MouseButton::right: return EventButton::right;
        case MouseButton::middle: return EventButton::middle;
    }
    return EventButton::left;
}

EventType buttonEventType(MouseButton button, bool down) {
    switch (button) {
        case MouseButton::left: return down ? EventType::leftMouseDown : EventType::leftMouseUp;
        case MouseButton::right: return down ? EventType::rightMouseDown : EventType::rightMouseUp;
        case MouseButton::middle: return down ? EventType::otherMouseDown : EventType::otherMouseUp;
    }
    return EventType::leftMouseUp;
}

EventType dragType(MouseButton button) {
    switch (button) {
        case MouseButton::left: return EventType::leftMouseDragged;
        case MouseButton::right: return EventType::rightMouseDragged;
        case MouseButton::middle: return EventType::otherMouseDragged;
    }
    return EventType::mouseMoved;
}

// Moments of one move, for its timing samples.
struct MoveMarks {
    std::uint64_t start = 0, read = 0, clamped = 0, built = 0, posted = 0;
};

}  // namespace

// A move while a button is held drags with the first of left, right, middle that is held.
InputEvent EventInjector::pointerEvent(Point location) const {
    std::optional<MouseButton> dragging;
    {
        MutexLock lock(stateLock_);
        const auto held =
            std::find_if(buttonOrder.begin(), buttonOrder.end(),
                         [this](MouseButton button) REQUIRES(stateLock_) { return heldButtons_.contains(button); });
        if (held != buttonOrder.end()) dragging = *held;
    }
    if (dragging) return InputEvent::mouse(dragType(*dragging), location, buttonNumber(*dragging));
    return InputEvent::mouse(EventType::mouseMoved, location, EventButton::left);
}

// A delta that is not a number or infinite moves nothing; any finite one is kept on the
// displays, while the delta fields carry what the phone asked for.
void EventInjector::move(double dx, double dy) {
    if (isPaused() || !std::isfinite(dx) || !std::isfinite(dy)) return;
    const bool timing = instrumentation_.isEnabled();
    const auto now = [&] { return timing ? instrumentation_.uptimeNanos() : 0; };
    MoveMarks marks;
    marks.start = now();
    const Point current = desktop_.pointer->pointerLocation();
    marks.read = now();
    const Point target = clampToDisplays({current.x + dx, current.y + dy});
    marks.clamped = now();
    if (!isFinite(target)) return;
    InputEvent event = pointerEvent(target);
    event.setField(EventField::mouseDeltaX, deltaField(dx));
    event.setField(EventField::mouseDeltaY, deltaField(dy));
    marks.built = now();
    desktop_.events->post(event);
    marks.posted = now();
    if (!timing) return;
    instrumentation_.add("1_cursor_read", marks.read - marks.start);
    instrumentation_.add("2_clamp", marks.clamped - marks.read);
    instrumentation_.add("3_build", marks.built - marks.clamped);
    instrumentation_.add("4_post", marks.posted - marks.built);
    instrumentation_.add("5_move_total", marks.posted - marks.start);
    instrumentation_.flushIfWindowElapsed();
}

void EventInjector::point(Point to) {
    if (isPaused() || !isFinite(to)) return;
    const Point current = desktop_.pointer->pointerLocation();
    const Point target = clampToDisplays(to);
    InputEvent event = pointerEvent(target);
    event.setField(EventField::mouseDeltaX, deltaField(target.x - current.x));
    event.setField(EventField::mouseDeltaY, deltaField(target.y - current.y));
    desktop_.events->post(event);
}

void EventInjector::follow(const Rect& window) {
    if (isPaused() || !followsWindows_) return;
    {
        MutexLock lock(stateLock_);
        if (!heldButtons_.empty()) return;
    }
    const Point current = desktop_.pointer->pointerLocation();
    if (const auto landing = PointerLanding::landing(window, current, *displayRects())) point(*landing);
}

void EventInjector::click(MouseButton button, ClickPhase phase, std::int64_t clickCount) {
    if (isPaused()) return;
    const auto press = [&](bool down) {
        post(button, down, clickCount);
        MutexLock lock(stateLock_);
        if (down) heldButtons_.insert(button);
        else heldButtons_.erase(button);
    };
    if (phase != ClickPhase::up) press(true);
    if (phase != ClickPhase::down) press(false);
}

// At the pointer; the click state is the phone's count, or 1 when that is below 2.
void EventInjector::post(MouseButton button, bool down, std::int64_t clickCount) {
    const Point location = desktop_.pointer->pointerLocation();
    InputEvent event = InputEvent::mouse(buttonEventType(button, down), location, buttonNumber(button));
    event.setField(EventField::mouseClickState, clickCount < 2 ? 1 : clickCount);
    desktop_.events->post(event);
}

void EventInjector::releaseAllButtons() {
    std::set<MouseButton> taken;
    {
        MutexLock lock(stateLock_);
        taken.swap(heldButtons_);
    }
    postUps(taken);
}

// Buttons another connection still holds stay down until that connection lets go or ends.
void EventInjector::release(const std::set<MouseButton>& buttons) {
    std::set<MouseButton> taken;
    {
        MutexLock lock(stateLock_);
        for (MouseButton button : buttons) {
            if (heldButtons_.erase(button) > 0) taken.insert(button);
        }
    }
    postUps(taken);
}

void EventInjector::postUps(const std::set<MouseButton>& buttons) {
    for (MouseButton button : buttonOrder) {
        if (buttons.contains(button)) post(button, false, 1);
    }
}

void EventInjector::resetScrollPhase() {
    MutexLock lock(stateLock_);
    scrollPhase_ = ScrollPhaseState{};
}

// A stream that stalls for longer than the timeout starts a new gesture; a plain stream of
// scrolls with no phase messages still begins with `began` and goes on with `changed`.
EventInjector::Stamp EventInjector::stampForScroll() {
    const MonoTime now = clock_->now();
    MutexLock lock(stateLock_);
    ScrollPhaseState& state = scrollPhase_;
    if ((state.gesture || state.momentum) && state.lastEventAt < now - scrollPhaseTimeout) state = ScrollPhaseState{};
    state.lastEventAt = now;
    Stamp stamp;
    if (!state.momentum) {
        stamp.gesture = state.hasSentFirst ? GesturePhase::changed : GesturePhase::began;
        state.gesture = GesturePhase::changed;
    } else {
        stamp.momentum = state.hasSentFirst ? MomentumPhase::moving : MomentumPhase::begin;
        state.momentum = MomentumPhase::moving;
    }
    state.hasSentFirst = true;
    return stamp;
}

// Deltas that do not fit a wheel post nothing and leave the gesture as it was.
void EventInjector::scroll(double dx, double dy) {
    if (isPaused()) return;
    const auto vertical = wheelDelta(dy);
    const auto horizontal = wheelDelta(dx);
    if (!vertical || !horizontal) return;
    const Stamp stamp = stampForScroll();
    InputEvent event = InputEvent::pixelScroll(*vertical, *horizontal);
    event.setField(EventField::scrollIsContinuous, 1);
    if (stamp.gesture) event.setField(EventField::scrollPhase, static_cast<std::int64_t>(*stamp.gesture));
    if (stamp.momentum) event.setField(EventField::momentumPhase, static_cast<std::int64_t>(*stamp.momentum));
    desktop_.events->post(event);
}

void EventInjector::scroll(ScrollGesturePhase phase) {
    if (isPaused()) return;
    const MonoTime now = clock_->now();
    UniqueLock lock(stateLock_);
    ScrollPhaseState& state = scrollPhase_;
    switch (phase) {
        case ScrollGesturePhase::began: state = {GesturePhase::began, std::nullopt, false, now}; return;
        case ScrollGesturePhase::momentumBegan: state = {std::nullopt, MomentumPhase::begin, false, now}; return;
        case ScrollGesturePhase::ended:
            if (!state.gesture) return;
            state = ScrollPhaseState{};
            lock.unlock();
            postPhaseEnd(EventField::scrollPhase, static_cast<std::int64_t>(GesturePhase::ended));
            return;
        case ScrollGesturePhase::momentumEnded:
            if (!state.momentum) return;
            state = ScrollPhaseState{};
            lock.unlock();
            postPhaseEnd(EventField::momentumPhase, static_cast<std::int64_t>(MomentumPhase::end));
            return;
    }
}

// The zero-delta event that closes a gesture or a momentum run.
void EventInjector::postPhaseEnd(EventField field, std::int64_t value) {
    InputEvent event = InputEvent::pixelScroll(0, 0);
    event.setField(EventField::scrollIsContinuous, 1);
    event.setField(field, value);
    desktop_.events->post(event);
}

}  // namespace quib
