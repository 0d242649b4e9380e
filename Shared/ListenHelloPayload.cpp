#include "Shared/ListenHelloPayload.hpp"

namespace quib {

ListenHelloPayload ListenHelloPayload::make(std::int64_t protocolVersion, std::string deviceName, std::string deviceID,
                                            bool paused) {
    return ListenHelloPayload{protocolVersion, std::move(deviceName), std::move(deviceID),
                              paused ? std::optional<bool>(true) : std::nullopt};
}

ListenHelloPayload ListenHelloPayload::fromJson(const Json& json) {
    const JsonReader r(json);
    ListenHelloPayload hello;
    hello.protocolVersion = r.required<std::int64_t>("protocolVersion");
    hello.deviceName = r.required<std::string>("deviceName");
    hello.deviceID = r.required<std::string>("deviceID");
    hello.paused = r.optional<bool>("paused");
    return hello;
}

Json ListenHelloPayload::toJson() const {
    return JsonWriter()
        .put("protocolVersion", protocolVersion)
        .put("deviceName", deviceName)
        .put("deviceID", deviceID)
        .put("paused", paused)
        .take();
}

}  // namespace quib
