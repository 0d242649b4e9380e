#include "Shared/HelloPayload.hpp"

namespace quib {

HelloPayload HelloPayload::fromJson(const Json& json) {
    const JsonReader r(json);
    HelloPayload hello;
    hello.protocolVersion = r.value<std::int64_t>("protocolVersion", 4);
    hello.deviceName = r.value<std::string>("deviceName", "iPhone");
    // Phones from before device identities are known by their name.
    hello.deviceID = r.value<std::string>("deviceID", "legacy:" + hello.deviceName);
    return hello;
}

Json HelloPayload::toJson() const {
    return JsonWriter()
        .put("protocolVersion", protocolVersion)
        .put("deviceName", deviceName)
        .put("deviceID", deviceID)
        .take();
}

}  // namespace quib
