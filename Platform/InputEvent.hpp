#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "Runtime/Geometry.hpp"

namespace quib {

// The kinds of synthetic event the host posts, numbered as Quartz numbers its event types, so
// that every backend and every test speaks one language.
enum class EventType : std::uint32_t {
    leftMouseDown = 1,
    leftMouseUp = 2,
    rightMouseDown = 3,
    rightMouseUp = 4,
    mouseMoved = 5,
    leftMouseDragged = 6,
    rightMouseDragged = 7,
    keyDown = 10,
    keyUp = 11,
    scrollWheel = 22,
    otherMouseDown = 25,
    otherMouseUp = 26,
    otherMouseDragged = 27,
};

// Integer fields an event may carry besides its type, location, key and wheels.
enum class EventField : std::uint32_t {
    mouseClickState = 1,
    mouseDeltaX = 4,
    mouseDeltaY = 5,
    scrollIsContinuous = 88,
    scrollPhase = 99,     // began 1, changed 2, ended 4
    momentumPhase = 123,  // begin 1, continue 2, end 3
};

// Modifier masks of key events.
struct EventFlags {
    static constexpr std::uint64_t shift = 0x20000;
    static constexpr std::uint64_t control = 0x40000;
    static constexpr std::uint64_t option = 0x80000;
    static constexpr std::uint64_t command = 0x100000;
};

// Mouse button numbers of mouse events.
struct EventButton {
    static constexpr std::int64_t left = 0;
    static constexpr std::int64_t right = 1;
    static constexpr std::int64_t middle = 2;
};

// One synthetic mouse, scroll-wheel or keyboard event, built by the host and handed to an
// EventPoster. A plain value: building one cannot fail and allocates nothing, since moves are
// built many times a second.
struct InputEvent {
    static constexpr std::size_t maxFields = 6;

    EventType type = EventType::mouseMoved;
    Point location;                        // mouse events: where, in global display coordinates
    std::int64_t mouseButton = 0;          // mouse events: an EventButton number
    std::uint16_t keyCode = 0;             // key events: the virtual key code
    std::uint64_t flags = 0;               // key events: EventFlags masks
    std::int32_t wheelCount = 0;           // scroll events: how many wheels carry deltas
    std::array<std::int32_t, 3> wheels{};  // scroll events, in pixels: vertical, horizontal, unused

    static InputEvent mouse(EventType type, Point location, std::int64_t button);
    static InputEvent key(std::uint16_t keyCode, bool down, std::uint64_t flags);
    // A scroll in pixels with two wheels: wheel 1 vertical, wheel 2 horizontal.
    static InputEvent pixelScroll(std::int32_t vertical, std::int32_t horizontal);

    bool isMouse() const;
    bool isKey() const { return type == EventType::keyDown || type == EventType::keyUp; }
    bool isScroll() const { return type == EventType::scrollWheel; }

    // Sets a field, replacing an earlier value of the same field. An event holds at most
    // maxFields distinct fields; a further one is ignored.
    void setField(EventField field, std::int64_t value);
    // The field's value; none when it was never set.
    std::optional<std::int64_t> field(EventField field) const;

    bool operator==(const InputEvent& other) const;

private:
    struct FieldValue {
        EventField field{};
        std::int64_t value = 0;
        bool operator==(const FieldValue&) const = default;
    };
    std::array<FieldValue, maxFields> fields_{};
    std::size_t fieldCount_ = 0;
};

}  // namespace quib
