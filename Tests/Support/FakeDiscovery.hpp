#pragma once

#include <optional>

#include "QuibHost/Reach/PublicAddressDiscovery.hpp"

namespace quib::testing {

// A STUN discovery that gives what the test set, and counts how often it was asked.
class FakeDiscovery final : public PublicAddressDiscovery {
public:
    std::optional<StunWire::Reflexive> reflexive(const CancelToken&) override {
        ++asked;
        return answer;
    }

    std::optional<StunWire::Reflexive> answer;
    int asked = 0;
};

}  // namespace quib::testing
