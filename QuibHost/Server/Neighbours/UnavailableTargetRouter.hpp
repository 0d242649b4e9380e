#pragma once

#include "QuibHost/Server/Neighbours/TargetRouterService.hpp"

namespace quib {

// Stands in for the target router until it exists: nothing is delivered, focused or pressed,
// and every answer says so.
class UnavailableTargetRouter final : public TargetRouterService {
public:
    static constexpr const char* message = "Delivery isn't available on this host yet";

    DeliveryReceipt deliver(const std::string& text, const QuibTarget& target, std::optional<bool> submit) override;
    DeliveryReceipt deliver(const std::vector<UploadAttachment>& attachments, const std::string& caption,
                            const QuibTarget& target, std::optional<bool> submit) override;
    Outcome focus(const QuibTarget&, bool) override { return {false, message}; }
    Outcome press(const KeyChord&, const std::optional<QuibTarget>&) override { return {false, message}; }
};

}  // namespace quib
