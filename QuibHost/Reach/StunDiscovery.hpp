#pragma once

#include <memory>

#include "QuibHost/Reach/PublicAddressDiscovery.hpp"
#include "QuibHost/Reach/ReachTimings.hpp"
#include "Runtime/Settings.hpp"

namespace quib {

// The public address as STUN servers see it: the servers of the settings, read at each use.
class StunDiscovery final : public PublicAddressDiscovery {
public:
    StunDiscovery(std::shared_ptr<Settings> settings, ReachTimings timings = {});
    std::optional<StunWire::Reflexive> reflexive(const CancelToken& cancel) override;

private:
    std::shared_ptr<Settings> settings_;
    ReachTimings timings_;
};

}  // namespace quib
