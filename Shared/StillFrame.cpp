#include "Shared/StillFrame.hpp"

namespace quib {

StillFrame StillFrame::fromJson(const Json& json) {
    const JsonReader r(json);
    StillFrame frame;
    frame.title = r.required<std::string>("title");
    frame.width = r.required<std::int64_t>("width");
    frame.height = r.required<std::int64_t>("height");
    frame.byteCount = r.required<std::int64_t>("byteCount");
    return frame;
}

Json StillFrame::toJson() const {
    return JsonWriter()
        .put("title", title)
        .put("width", width)
        .put("height", height)
        .put("byteCount", byteCount)
        .take();
}

}  // namespace quib
