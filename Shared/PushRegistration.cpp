#include "Shared/PushRegistration.hpp"

namespace quib {

PushRegistration PushRegistration::fromJson(const Json& json) {
    const JsonReader r(json);
    PushRegistration registration;
    registration.token = r.optional<std::string>("token");
    registration.usesSandbox = r.value("usesSandbox", false);
    registration.settings = r.value("settings", AlertSettings{});
    return registration;
}

Json PushRegistration::toJson() const {
    return JsonWriter().put("token", token).put("usesSandbox", usesSandbox).put("settings", settings).take();
}

}  // namespace quib
