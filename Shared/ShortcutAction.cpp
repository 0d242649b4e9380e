#include "Shared/ShortcutAction.hpp"

#include "Runtime/SecureRandom.hpp"

namespace quib {

ShortcutAction ShortcutAction::fromJson(const Json& json) {
    const JsonReader r(json);
    ShortcutAction action;
    auto id = r.optional<std::string>("id");
    action.id = id ? std::move(*id) : newUuidString();
    action.label = r.value<std::string>("label", "key");
    action.symbol = r.value<std::string>("symbol", "keyboard");
    action.kind = r.value("kind", Kind::key);
    action.chord = r.optional<KeyChord>("chord");
    action.note = r.optional<std::string>("note");
    action.glyphOnly = r.value("glyphOnly", false);
    return action;
}

Json ShortcutAction::toJson() const {
    return JsonWriter()
        .put("id", id)
        .put("label", label)
        .put("symbol", symbol)
        .put("kind", kind)
        .put("chord", chord)
        .put("note", note)
        .put("glyphOnly", glyphOnly)
        .take();
}

}  // namespace quib
