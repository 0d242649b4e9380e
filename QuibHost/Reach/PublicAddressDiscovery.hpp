#pragma once

#include <optional>

#include "QuibHost/Reach/Wire/StunWire.hpp"
#include "Runtime/CancelToken.hpp"

namespace quib {

// Asks the internet which public address it sees for this host. It blocks until the answer,
// the last time-out or a cancel, so it runs on a worker, never on the main loop.
class PublicAddressDiscovery {
public:
    virtual ~PublicAddressDiscovery() = default;
    // The first answer; nothing when nobody answered, or after a cancel.
    virtual std::optional<StunWire::Reflexive> reflexive(const CancelToken& cancel) = 0;
};

}  // namespace quib
