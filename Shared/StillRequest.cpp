#include "Shared/StillRequest.hpp"

namespace quib {

StillRequest StillRequest::fromJson(const Json& json) {
    const JsonReader r(json);
    StillRequest request;
    request.protocolVersion = r.value<std::int64_t>("protocolVersion", 23);
    request.deviceName = r.value<std::string>("deviceName", "iPhone");
    request.deviceID = r.value<std::string>("deviceID", "");
    request.targetID = r.value<std::string>("targetID", "");
    request.maxLongEdge = r.value<std::int64_t>("maxLongEdge", defaultLongEdge);
    return request;
}

Json StillRequest::toJson() const {
    return JsonWriter()
        .put("protocolVersion", protocolVersion)
        .put("deviceName", deviceName)
        .put("deviceID", deviceID)
        .put("targetID", targetID)
        .put("maxLongEdge", maxLongEdge)
        .take();
}

}  // namespace quib
