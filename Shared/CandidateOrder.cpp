#include "Shared/CandidateOrder.hpp"

#include <algorithm>
#include <string>
#include <tuple>

#include "Shared/OverlayAddress.hpp"

namespace quib {

std::vector<QuibCandidate> CandidateOrder::sorted(std::vector<QuibCandidate> candidates) {
    // Each key is worked out once rather than at every comparison.
    struct Keyed {
        QuibCandidate::Reach reach;
        bool onOverlay;
        std::string id;
        QuibCandidate* candidate;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(candidates.size());
    for (auto& c : candidates) keyed.push_back({c.reach, OverlayAddress::contains(c.host), c.id(), &c});

    // std::string compares its bytes as unsigned, which for UTF-8 is code-point order.
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        return std::tie(a.reach, a.onOverlay, a.id) < std::tie(b.reach, b.onOverlay, b.id);
    });
    std::vector<QuibCandidate> ordered;
    ordered.reserve(keyed.size());
    for (const Keyed& k : keyed) ordered.push_back(std::move(*k.candidate));
    return ordered;
}

}  // namespace quib
