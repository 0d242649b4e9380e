#pragma once

#include <optional>
#include <string>

#include "QuibHost/Targets/TargetOutcome.hpp"
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
    virtual Outcome focus(const QuibTarget& target, bool movingPointer) = 0;
    virtual Outcome press(const KeyChord& chord, const std::optional<QuibTarget>& target) = 0;
};

}  // namespace quib
