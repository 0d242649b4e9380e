#pragma once

#include <optional>
#include <string>
#include <vector>

#include "QuibHost/Targets/TargetOutcome.hpp"
#include "QuibHost/Targets/UploadAttachment.hpp"
#include "Shared/DeliveryReceipt.hpp"
#include "Shared/KeyChord.hpp"
#include "Shared/QuibTarget.hpp"

namespace quib {

// What the dispatch asks of the target router. Called on the server's injection queue.
class TargetRouterService {
public:
    using Outcome = TargetOutcome;

    virtual ~TargetRouterService() = default;
    virtual DeliveryReceipt deliver(const std::string& text, const QuibTarget& target, std::optional<bool> submit) = 0;
    // The images, in order, with the caption (possibly empty).
    virtual DeliveryReceipt deliver(const std::vector<UploadAttachment>& attachments, const std::string& caption,
                                    const QuibTarget& target, std::optional<bool> submit) = 0;
    virtual Outcome focus(const QuibTarget& target, bool movingPointer) = 0;
    virtual Outcome press(const KeyChord& chord, const std::optional<QuibTarget>& target) = 0;
};

}  // namespace quib
