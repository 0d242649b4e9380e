#include "Shared/UnitRect.hpp"

namespace quib {

UnitRect UnitRect::fromJson(const Json& json) {
    const JsonReader r(json);
    return UnitRect{r.required<double>("x"), r.required<double>("y"), r.required<double>("width"),
                    r.required<double>("height")};
}

Json UnitRect::toJson() const {
    return JsonWriter().put("x", x).put("y", y).put("width", width).put("height", height).take();
}

}  // namespace quib
