#include "Shared/KeyPayload.hpp"

#include <cstdint>
#include <string_view>

namespace quib {
namespace {

// The one-word key form of older phones; matched exactly, case-sensitively.
KeyChord chordForLegacyWord(std::string_view word) {
    if (word == "enter") return KeyChord("enter");
    if (word == "interrupt") return KeyChord("c", /*control=*/true);
    if (word == "copy") return KeyChord("c", false, false, false, /*command=*/true);
    if (word == "paste") return KeyChord("v", false, false, false, /*command=*/true);
    return KeyChord("escape");
}

// The virtual-key-code form of older phones: 36 Return, 8 the C key, 9 the V key.
KeyChord chordForLegacyKeyCode(std::uint16_t keyCode, bool command, bool control) {
    if (keyCode == 36) return KeyChord("enter");
    if (command && keyCode == 8) return KeyChord("c", false, false, false, /*command=*/true);
    if (command && keyCode == 9) return KeyChord("v", false, false, false, /*command=*/true);
    if (!command && control && keyCode == 8) return KeyChord("c", /*control=*/true);
    return KeyChord("escape");
}

}  // namespace

// Each key is type-checked only at the step that reads it, so a chord wins over a mistyped
// legacy key beside it.
KeyPayload KeyPayload::fromJson(const Json& json) {
    const JsonReader r(json);
    KeyPayload payload;
    payload.targetID = r.optional<std::string>("targetID");
    if (auto chord = r.optional<KeyChord>("chord")) {
        payload.chord = std::move(*chord);
        return payload;
    }
    if (auto word = r.optional<std::string>("key")) {
        payload.chord = chordForLegacyWord(*word);
        return payload;
    }
    const auto keyCode = r.value<std::uint16_t>("keyCode", 53);
    const bool command = r.value("command", false);
    const bool control = r.value("control", false);
    payload.chord = chordForLegacyKeyCode(keyCode, command, control);
    return payload;
}

Json KeyPayload::toJson() const { return JsonWriter().put("chord", chord).put("targetID", targetID).take(); }

}  // namespace quib
