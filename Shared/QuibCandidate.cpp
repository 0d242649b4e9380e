#include "Shared/QuibCandidate.hpp"

namespace quib {

QuibCandidate QuibCandidate::fromJson(const Json& json) {
    const JsonReader r(json);
    return QuibCandidate{r.required<std::string>("host"), r.required<std::uint16_t>("port"),
                         r.required<Reach>("reach"), r.required<std::string>("via")};
}

Json QuibCandidate::toJson() const {
    return JsonWriter().put("host", host).put("port", port).put("reach", reach).put("via", via).take();
}

}  // namespace quib
