#include "Shared/ViewFrame.hpp"

#include "Shared/UptimeClock.hpp"

namespace quib {

ViewFrame ViewFrame::make(Kind kind, std::string title, std::uint64_t captureTime) {
    ViewFrame frame;
    frame.kind = kind;
    frame.title = std::move(title);
    frame.captureTime = captureTime;
    return frame;
}

ViewFrame ViewFrame::state(std::string reason, std::string title, bool canOpen, MonoTime now) {
    ViewFrame frame = make(Kind::state, std::move(title), UptimeClock::nanos(now));
    frame.reason = std::move(reason);
    if (canOpen) frame.canOpen = true;
    return frame;
}

void ViewFrame::setCrop(const Rect& rect) { crop = UnitRect::make(rect); }

Rect ViewFrame::cropRect() const { return crop ? crop->rect() : UnitRect::full.rect(); }

ViewFrame ViewFrame::fromJson(const Json& json) {
    const JsonReader r(json);
    ViewFrame frame =
        make(r.required<Kind>("kind"), r.required<std::string>("title"), r.required<std::uint64_t>("captureTime"));
    frame.codec = r.optional<Codec>("codec");
    frame.isKeyframe = r.optional<bool>("isKeyframe");
    frame.width = r.optional<std::int64_t>("width");
    frame.height = r.optional<std::int64_t>("height");
    frame.parameterSets = r.optional<std::vector<Bytes>>("parameterSets");
    frame.cornerRadius = r.optional<double>("cornerRadius");
    frame.columns = r.optional<std::int64_t>("columns");
    frame.rows = r.optional<std::int64_t>("rows");
    frame.pointer = r.optional<UnitSpot>("pointer");
    frame.crop = r.optional<UnitRect>("crop");
    frame.reason = r.optional<std::string>("reason");
    frame.canOpen = r.optional<bool>("canOpen");
    return frame;
}

Json ViewFrame::toJson() const {
    return JsonWriter()
        .put("kind", kind)
        .put("title", title)
        .put("captureTime", captureTime)
        .put("codec", codec)
        .put("isKeyframe", isKeyframe)
        .put("width", width)
        .put("height", height)
        .put("parameterSets", parameterSets)
        .put("cornerRadius", cornerRadius)
        .put("columns", columns)
        .put("rows", rows)
        .put("pointer", pointer)
        .put("crop", crop)
        .put("reason", reason)
        .put("canOpen", canOpen)
        .take();
}

}  // namespace quib
