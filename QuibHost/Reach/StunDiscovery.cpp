#include "QuibHost/Reach/StunDiscovery.hpp"

#include "QuibHost/Reach/PublicAddress.hpp"
#include "Runtime/Required.hpp"

namespace quib {

StunDiscovery::StunDiscovery(std::shared_ptr<Settings> settings, ReachTimings timings)
    : settings_(required(std::move(settings), "StunDiscovery", "settings")), timings_(timings) {}

std::optional<StunWire::Reflexive> StunDiscovery::reflexive(const CancelToken& cancel) {
    return PublicAddress::reflexive(PublicAddress::servers(*settings_),
                                    {timings_.stun, timings_.stunResend, timings_.clock}, cancel);
}

}  // namespace quib
