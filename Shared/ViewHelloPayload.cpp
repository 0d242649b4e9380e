#include "Shared/ViewHelloPayload.hpp"

namespace quib {

ViewHelloPayload ViewHelloPayload::fromJson(const Json& json) {
    const JsonReader r(json);
    ViewHelloPayload hello;
    hello.protocolVersion = r.required<std::int64_t>("protocolVersion");
    hello.deviceName = r.required<std::string>("deviceName");
    hello.deviceID = r.required<std::string>("deviceID");
    hello.maxWidth = r.required<std::int64_t>("maxWidth");
    hello.maxHeight = r.required<std::int64_t>("maxHeight");
    hello.crop = r.optional<UnitRect>("crop");
    return hello;
}

Json ViewHelloPayload::toJson() const {
    return JsonWriter()
        .put("protocolVersion", protocolVersion)
        .put("deviceName", deviceName)
        .put("deviceID", deviceID)
        .put("maxWidth", maxWidth)
        .put("maxHeight", maxHeight)
        .put("crop", crop)
        .take();
}

}  // namespace quib
