#include "Shared/ShortcutProfile.hpp"

namespace quib {

ShortcutProfile ShortcutProfile::fromJson(const Json& json) {
    const JsonReader r(json);
    ShortcutProfile profile;
    profile.id = r.value<std::string>("id", "app");
    profile.name = r.value<std::string>("name", "App");
    profile.commands = r.value<std::vector<std::string>>("commands", {});
    profile.bundleIDs = r.value<std::vector<std::string>>("bundleIDs", {});
    profile.actions = r.value<std::vector<ShortcutAction>>("actions", {});
    return profile;
}

Json ShortcutProfile::toJson() const {
    return JsonWriter()
        .put("id", id)
        .put("name", name)
        .put("commands", commands)
        .put("bundleIDs", bundleIDs)
        .put("actions", actions)
        .take();
}

}  // namespace quib
