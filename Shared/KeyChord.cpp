#include "Shared/KeyChord.hpp"

#include <algorithm>
#include <functional>
#include <utility>

namespace quib {

KeyChord::KeyChord(std::string key, bool control, bool option, bool shift, bool command, std::int64_t repeatCount)
    : key(std::move(key)),
      control(control),
      option(option),
      shift(shift),
      command(command),
      repeatCount(clampedRepeatCount(repeatCount)) {}

std::int64_t KeyChord::clampedRepeatCount(std::int64_t count) {
    return std::clamp(count, minRepeatCount, maxRepeatCount);
}

KeyChord KeyChord::fromJson(const Json& json) {
    const JsonReader r(json);
    // Read in field order so the first mistyped key is the one reported.
    auto key = r.value<std::string>("key", "escape");
    const bool control = r.value("control", false);
    const bool option = r.value("option", false);
    const bool shift = r.value("shift", false);
    const bool command = r.value("command", false);
    const auto repeatCount = r.value<std::int64_t>("repeatCount", 1);
    return KeyChord(std::move(key), control, option, shift, command, repeatCount);
}

Json KeyChord::toJson() const {
    return JsonWriter()
        .put("key", key)
        .put("control", control)
        .put("option", option)
        .put("shift", shift)
        .put("command", command)
        .put("repeatCount", repeatCount)
        .take();
}

}  // namespace quib

std::size_t std::hash<quib::KeyChord>::operator()(const quib::KeyChord& chord) const noexcept {
    std::size_t seed = std::hash<std::string>{}(chord.key);
    const auto mix = [&seed](std::size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); };
    mix(chord.control);
    mix(chord.option);
    mix(chord.shift);
    mix(chord.command);
    mix(std::hash<std::int64_t>{}(chord.repeatCount));
    return seed;
}
