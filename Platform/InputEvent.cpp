#include "Platform/InputEvent.hpp"

#include <algorithm>

namespace quib {

InputEvent InputEvent::mouse(EventType type, Point location, std::int64_t button) {
    InputEvent event;
    event.type = type;
    event.location = location;
    event.mouseButton = button;
    return event;
}

InputEvent InputEvent::key(std::uint16_t keyCode, bool down, std::uint64_t flags) {
    InputEvent event;
    event.type = down ? EventType::keyDown : EventType::keyUp;
    event.keyCode = keyCode;
    event.flags = flags;
    return event;
}

InputEvent InputEvent::pixelScroll(std::int32_t vertical, std::int32_t horizontal) {
    InputEvent event;
    event.type = EventType::scrollWheel;
    event.wheelCount = 2;
    event.wheels = {vertical, horizontal, 0};
    return event;
}

bool InputEvent::isMouse() const {
    switch (type) {
        case EventType::keyDown:
        case EventType::keyUp:
        case EventType::scrollWheel: return false;
        default: return true;
    }
}

void InputEvent::setField(EventField field, std::int64_t value) {
    const auto end = fields_.begin() + static_cast<std::ptrdiff_t>(fieldCount_);
    const auto found = std::find_if(fields_.begin(), end, [field](const FieldValue& f) { return f.field == field; });
    if (found != end) {
        found->value = value;
    } else if (fieldCount_ < maxFields) {
        fields_[fieldCount_++] = {field, value};
    }
}

std::optional<std::int64_t> InputEvent::field(EventField field) const {
    for (std::size_t i = 0; i < fieldCount_; ++i) {
        if (fields_[i].field == field) return fields_[i].value;
    }
    return std::nullopt;
}

// Two events are equal when they carry the same values; the order in which fields were set
// does not matter.
bool InputEvent::operator==(const InputEvent& other) const {
    if (type != other.type || location != other.location || mouseButton != other.mouseButton ||
        keyCode != other.keyCode || flags != other.flags || wheelCount != other.wheelCount || wheels != other.wheels ||
        fieldCount_ != other.fieldCount_) {
        return false;
    }
    for (std::size_t i = 0; i < fieldCount_; ++i) {
        if (other.field(fields_[i].field) != fields_[i].value) return false;
    }
    return true;
}

}  // namespace quib
