#include "Shared/ViewHelloPayload.hpp"

namespace quib {

ViewHelloPayload ViewHelloPayload::make(std::int64_t protocolVersion, std::string deviceName, std::string deviceID,
                                        std::int64_t maxWidth, std::int64_t maxHeight, const Rect& crop) {
    return ViewHelloPayload{protocolVersion, std::move(deviceName), std::move(deviceID), maxWidth,
                            maxHeight,       UnitRect::make(crop)};
}

Rect ViewHelloPayload::cropRect() const { return crop ? crop->rect() : UnitRect::full.rect(); }

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
