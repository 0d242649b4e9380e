#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "QuibHost/Targets/TargetOutcome.hpp"
#include "QuibHost/Targets/UploadAttachment.hpp"
#include "Shared/DeliveryReceipt.hpp"
#include "Shared/KeyChord.hpp"
#include "Shared/QuibTarget.hpp"

namespace quib {

// What the connection server asks of the target router: deliveries of text and images, which
// are answered with a receipt and logged, and focusing a target or pressing a key chord in it,
// which are answered with an outcome. Called on the server's injection queue, one at a time;
// each call blocks it for the tools it runs and the short waits that let other apps catch up.
class TargetRouterService {
public:
    using Outcome = TargetOutcome;

    // The label of that queue: the server makes it so, and the router asserts it is on it.
    static constexpr std::string_view queueLabel = "com.brenmoor.quib.host.inject";

    virtual ~TargetRouterService() = default;
    // `submit` is the request's own wish; none: the target's default.
    virtual DeliveryReceipt deliver(const std::string& text, const QuibTarget& target, std::optional<bool> submit) = 0;
    // The images, in order, with the caption (possibly empty).
    virtual DeliveryReceipt deliver(const std::vector<UploadAttachment>& attachments, const std::string& caption,
                                    const QuibTarget& target, std::optional<bool> submit) = 0;
    // Brings the target forward; with `movingPointer` the pointer lands in its window.
    virtual Outcome focus(const QuibTarget& target, bool movingPointer) = 0;
    // Presses the chord in the target; none: in whatever window is in front.
    virtual Outcome press(const KeyChord& chord, const std::optional<QuibTarget>& target) = 0;
};

}  // namespace quib
