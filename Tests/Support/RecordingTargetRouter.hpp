#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "QuibHost/Targets/TargetRouterService.hpp"
#include "Runtime/Mutex.hpp"

namespace quib::testing {

// Delivers nothing but remembers every call, in order. A target named in `failing` gets a failed
// receipt or outcome, and pressing a chord fails when `pressFails` is set.
// A neighbour of the server for tests; its state is under a lock of its own, since the server calls
// it from the network queue and the main loop.
class RecordingTargetRouter final : public TargetRouterService {
public:
    struct Call {
        std::string what;  // "text", "images", "focus" or "press"
        std::string targetID;
        std::vector<UploadAttachment> attachments;
        std::string caption;  // the text, for "text"
        std::optional<bool> submit;
    };

    DeliveryReceipt deliver(const std::string& text, const QuibTarget& target, std::optional<bool> submit) override {
        return answer({"text", target.id, {}, text, submit}, target);
    }
    DeliveryReceipt deliver(const std::vector<UploadAttachment>& attachments, const std::string& caption,
                            const QuibTarget& target, std::optional<bool> submit) override {
        return answer({"images", target.id, attachments, caption, submit}, target);
    }
    Outcome focus(const QuibTarget& target, bool) override {
        const auto receipt = answer({"focus", target.id, {}, "", std::nullopt}, target);
        return {receipt.ok, receipt.ok ? "Focused " + target.name : receipt.message};
    }
    Outcome press(const KeyChord&, const std::optional<QuibTarget>& target) override {
        MutexLock lock(mutex_);
        calls_.push_back({"press", target ? target->id : "", {}, "", std::nullopt});
        return {!pressFails, pressFails ? "The key did not go through" : "Pressed"};
    }
    std::vector<Call> calls() const {
        MutexLock lock(mutex_);
        return calls_;
    }

    std::set<std::string> failing;
    bool pressFails = false;

private:
    DeliveryReceipt answer(Call call, const QuibTarget& target) {
        MutexLock lock(mutex_);
        calls_.push_back(std::move(call));
        const bool ok = !failing.contains(target.id);
        return {ok, target.id, target.name, 0, false, ok ? "Sent to " + target.name : "Could not reach " + target.name};
    }

    mutable Mutex mutex_;
    std::vector<Call> calls_ GUARDED_BY(mutex_);
};

}  // namespace quib::testing
