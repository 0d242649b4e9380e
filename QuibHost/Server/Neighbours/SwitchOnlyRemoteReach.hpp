#pragma once

#include <memory>

#include "Platform/Settings.hpp"
#include "QuibHost/Server/Neighbours/RemoteReachService.hpp"

namespace quib {

// Stands in for remote reach until it exists: it knows the away switch and nothing else, so it
// offers no way to reach the host, issues no key and treats no peer as local.
class SwitchOnlyRemoteReach final : public RemoteReachService {
public:
    explicit SwitchOnlyRemoteReach(std::shared_ptr<Settings> settings) : settings_(std::move(settings)) {}

    bool isEnabled() const override { return settings_->boolean(enabledKey).value_or(false); }
    std::vector<QuibTransport::Key> listenerKeys() override { return {}; }
    bool isOnSameNetwork(const std::string&) override { return false; }
    RemoteAccessPayload payload(const std::optional<std::string>&, bool) override {
        RemoteAccessPayload payload;
        payload.isEnabled = isEnabled();
        return payload;
    }
    void forget(const std::string&) override {}
    // Nothing to learn, watch or map yet.
    void refreshLocal() override {}
    void watchPath() override {}
    void start() override {}

private:
    std::shared_ptr<Settings> settings_;
};

}  // namespace quib
