#include "Shared/QuibTarget.hpp"

#include "Runtime/SecureRandom.hpp"

namespace quib {

bool QuibTarget::hasStableTmuxID() const { return tmuxTarget && tmuxTarget->starts_with('%'); }

QuibTarget QuibTarget::fromJson(const Json& json) {
    const JsonReader r(json);
    QuibTarget t;
    auto id = r.optional<std::string>("id");
    t.id = id ? std::move(*id) : newUuidString();
    t.name = r.value<std::string>("name", "Target");
    t.kind = r.value("kind", Kind::frontmost);
    t.bundleID = r.optional<std::string>("bundleID");
    t.tmuxTarget = r.optional<std::string>("tmuxTarget");
    t.submitOnSend = r.value("submitOnSend", true);
    t.allowAutoSubmit = r.value("allowAutoSubmit", true);
    t.symbol = r.value<std::string>("symbol", "square.dashed");
    t.profileID = r.optional<std::string>("profileID");
    t.pinnedWindowID = r.optional<std::uint32_t>("pinnedWindowID");
    t.pinnedWindowTitle = r.optional<std::string>("pinnedWindowTitle");
    t.isProvisional = r.value("isProvisional", false);
    return t;
}

Json QuibTarget::toJson() const {
    return JsonWriter()
        .put("id", id)
        .put("name", name)
        .put("kind", kind)
        .put("bundleID", bundleID)
        .put("tmuxTarget", tmuxTarget)
        .put("submitOnSend", submitOnSend)
        .put("allowAutoSubmit", allowAutoSubmit)
        .put("symbol", symbol)
        .put("profileID", profileID)
        .put("pinnedWindowID", pinnedWindowID)
        .put("pinnedWindowTitle", pinnedWindowTitle)
        .put("isProvisional", isProvisional)
        .take();
}

}  // namespace quib
