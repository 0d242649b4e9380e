#pragma once

#include <memory>
#include <string_view>

#include "Platform/Settings.hpp"
#include "QuibHost/Server/Neighbours/PushSenderService.hpp"

namespace quib {

// Stands in for the push sender until it exists: it knows whether a relay is configured, and
// sends nothing.
class IdlePushSender final : public PushSenderService {
public:
    static constexpr std::string_view relayKey = "quib.push.relay";

    explicit IdlePushSender(std::shared_ptr<Settings> settings) : settings_(std::move(settings)) {}

    // The relay setting holds a string that parses as a URL.
    bool isConfigured() const override;
    void deviceArrived(const std::string&) override {}
    void forget(const std::string&) override {}
    void resolved(const std::string&) override {}
    void registerDevice(const PushRegistration&, const std::string&) override {}
    void send(const AgentEvent&, const std::string&, const std::set<std::string>&) override {}
    void send(const ApprovalRequest&, const std::set<std::string>&) override {}

    // Whether `text` is a URL or a relative URL reference: only the characters a URL may hold,
    // percent signs followed by two hex digits, at most one "#", and a valid scheme before any
    // ":" that comes ahead of the first "/", "?" or "#". The empty string is none.
    static bool parsesAsUrl(std::string_view text);

private:
    std::shared_ptr<Settings> settings_;
};

}  // namespace quib
