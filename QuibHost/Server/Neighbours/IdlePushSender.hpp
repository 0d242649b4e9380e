#pragma once

#include "QuibHost/Server/Neighbours/PushSenderService.hpp"

namespace quib {

// Stands in for the push sender until it exists: no relay is configured and nothing is sent.
class IdlePushSender final : public PushSenderService {
public:
    bool isConfigured() const override { return false; }
    void deviceArrived(const std::string&) override {}
    void forget(const std::string&) override {}
    void resolved(const std::string&) override {}
};

}  // namespace quib
