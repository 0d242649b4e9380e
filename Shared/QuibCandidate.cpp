#include "Shared/QuibCandidate.hpp"

namespace quib {

QuibCandidate QuibCandidate::fromJson(const Json& json) {
    const JsonReader r(json);
    return QuibCandidate{r.required<std::string>("host"), r.required<std::uint16_t>("port"), r.required<Reach>("reach"),
                         r.required<std::string>("via")};
}

std::string QuibCandidate::id() const { return std::string(enumName(reach)) + '|' + host + '|' + std::to_string(port); }

std::string QuibCandidate::display() const {
    const bool bracketed = host.find(':') != std::string::npos;
    return (bracketed ? '[' + host + ']' : host) + ':' + std::to_string(port);
}

Json QuibCandidate::toJson() const {
    return JsonWriter().put("host", host).put("port", port).put("reach", reach).put("via", via).take();
}

}  // namespace quib

std::size_t std::hash<quib::QuibCandidate>::operator()(const quib::QuibCandidate& candidate) const noexcept {
    std::size_t seed = std::hash<std::string>{}(candidate.host);
    const auto mix = [&seed](std::size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); };
    mix(std::hash<std::uint16_t>{}(candidate.port));
    mix(std::hash<std::string_view>{}(quib::enumName(candidate.reach)));
    mix(std::hash<std::string>{}(candidate.via));
    return seed;
}
