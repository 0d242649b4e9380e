#pragma once

#include <atomic>

#include "QuibHost/Reach/PublicAddressDiscovery.hpp"

namespace quib {

// The public address of a host that was given no real network: nobody is asked, and each call
// is only counted.
class AbsentPublicAddressDiscovery final : public PublicAddressDiscovery {
public:
    std::optional<StunWire::Reflexive> reflexive(const CancelToken&) override {
        ++asked;
        return std::nullopt;
    }

    std::atomic<int> asked{0};
};

}  // namespace quib
