#pragma once

#include "QuibHost/Server/Neighbours/RemoteReachService.hpp"

namespace quib {

// Stands in for remote reach until it exists: away access is off and no device has a key.
class AwayOffRemoteReach final : public RemoteReachService {
public:
    bool isEnabled() const override { return false; }
    std::vector<QuibTransport::Key> listenerKeys() override { return {}; }
    RemoteAccessPayload payload(const std::optional<std::string>&, bool) override { return RemoteAccessPayload{}; }
};

}  // namespace quib
