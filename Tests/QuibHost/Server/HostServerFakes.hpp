#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "QuibHost/Server/Neighbours/ApprovalBrokerService.hpp"
#include "QuibHost/Server/Neighbours/PushSenderService.hpp"
#include "QuibHost/Server/Neighbours/StreamingService.hpp"
#include "QuibHost/Targets/EventInjectorService.hpp"
#include "QuibHost/Targets/TargetRouterService.hpp"
#include "QuibHost/Targets/TargetStoreService.hpp"

namespace quib::testing {

// Neighbours of the server that tests fill and read. Each keeps its state under its own lock,
// since the server calls them from the network queue and the main loop.

// Targets the test sets; the snapshots follow at once. Changes a phone asks for are recorded;
// additions and edits are accepted unless the test queues refusals.
class FakeTargetStore final : public TargetStoreService {
public:
    explicit FakeTargetStore(std::shared_ptr<Executor> main)
        : targets_(main, {}), provisional_(main, {}), active_(main, std::nullopt), unresolved_(main, {}) {}

    Published<std::vector<QuibTarget>>& targets() override { return targets_; }
    Published<std::vector<QuibTarget>>& provisionalTargets() override { return provisional_; }
    Published<std::optional<std::string>>& activeTargetID() override { return active_; }
    Published<std::set<std::string>>& unresolvedTargetIDs() override { return unresolved_; }

    Snapshot snapshot() const override {
        std::lock_guard lock(mutex_);
        return snapshot_;
    }
    std::optional<std::string> activeSnapshot() const override {
        std::lock_guard lock(mutex_);
        return active;
    }
    std::set<std::string> unresolvedSnapshot() const override {
        std::lock_guard lock(mutex_);
        return unresolved;
    }
    // Saved targets first, then provisional ones, as they are (nothing is adopted).
    std::optional<QuibTarget> safeTarget(const std::string& id) override {
        std::lock_guard lock(mutex_);
        for (const auto* list : {&snapshot_.saved, &snapshot_.provisional}) {
            for (const auto& target : *list)
                if (target.id == id) return target;
        }
        return std::nullopt;
    }
    std::optional<QuibTarget> safeActiveTarget() override {
        std::lock_guard lock(mutex_);
        for (const auto& target : snapshot_.saved)
            if (target.id == active) return target;
        return std::nullopt;
    }
    // Remembered in call order; the snapshot does not follow.
    void setActive(std::optional<std::string> id) override {
        std::lock_guard lock(mutex_);
        activations_.push_back(std::move(id));
    }
    std::vector<std::optional<std::string>> activations() const {
        std::lock_guard lock(mutex_);
        return activations_;
    }
    std::optional<QuibTarget> target(const std::optional<std::string>& id) const override {
        std::lock_guard lock(mutex_);
        for (const auto& t : snapshot_.saved)
            if (t.id == id) return t;
        return std::nullopt;
    }
    void remove(const std::set<std::string>& ids) override { record(calls.removed, ids); }
    void setOrder(const std::vector<std::string>& ids) override { record(calls.ordered, ids); }
    void setPinnedWindow(std::optional<std::uint32_t>, std::optional<std::string>, const std::string&) override {}
    void refreshProvisional() override {}
    AddOutcome add(QuibTarget t) override { return answer(calls.added, std::move(t)); }
    AddOutcome update(QuibTarget t) override { return answer(calls.updated, std::move(t)); }
    void reconcile(const std::vector<Tmux::Pane>& panes, bool, bool, bool) override { record(calls.reconciled, panes); }
    void refreshTmux() override {}

    // What the server asked of the store, in order.
    struct Calls {
        std::vector<QuibTarget> added;
        std::vector<QuibTarget> updated;
        std::vector<std::set<std::string>> removed;
        std::vector<std::vector<std::string>> ordered;
        std::vector<std::vector<Tmux::Pane>> reconciled;
    };
    Calls recorded() const {
        std::lock_guard lock(mutex_);
        return calls;
    }
    // The next additions or edits are refused with these texts, one each.
    void refuseNext(std::vector<std::string> reasons) {
        std::lock_guard lock(mutex_);
        refusals_.insert(refusals_.end(), reasons.begin(), reasons.end());
    }

    void setSnapshot(Snapshot snapshot, std::optional<std::string> activeID = std::nullopt,
                     std::set<std::string> unresolvedIDs = {}) {
        std::lock_guard lock(mutex_);
        snapshot_ = std::move(snapshot);
        active = std::move(activeID);
        unresolved = std::move(unresolvedIDs);
    }

private:
    template <class T>
    void record(std::vector<T>& list, T value) {
        std::lock_guard lock(mutex_);
        list.push_back(std::move(value));
    }
    AddOutcome answer(std::vector<QuibTarget>& list, QuibTarget t) {
        std::lock_guard lock(mutex_);
        list.push_back(t);
        if (refusals_.empty()) return AddOutcome::added(std::move(t));
        auto reason = std::move(refusals_.front());
        refusals_.erase(refusals_.begin());
        return AddOutcome::refused(std::move(reason));
    }

    mutable std::mutex mutex_;
    Calls calls;
    std::vector<std::string> refusals_;
    Snapshot snapshot_;
    std::optional<std::string> active;
    std::set<std::string> unresolved;
    std::vector<std::optional<std::string>> activations_;
    Published<std::vector<QuibTarget>> targets_;
    Published<std::vector<QuibTarget>> provisional_;
    Published<std::optional<std::string>> active_;
    Published<std::set<std::string>> unresolved_;
};

// Delivers nothing but remembers every call, in order. A target named in `failing` gets a failed
// receipt or outcome, and pressing a chord fails when `pressFails` is set.
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
        std::lock_guard lock(mutex_);
        calls_.push_back({"press", target ? target->id : "", {}, "", std::nullopt});
        return {!pressFails, pressFails ? "The key did not go through" : "Pressed"};
    }
    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

    std::set<std::string> failing;
    bool pressFails = false;

private:
    DeliveryReceipt answer(Call call, const QuibTarget& target) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
        const bool ok = !failing.contains(target.id);
        return {ok, target.id, target.name, 0, false, ok ? "Sent to " + target.name : "Could not reach " + target.name};
    }

    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

// Remembers which devices arrived and which were forgotten.
class RecordingPushSender final : public PushSenderService {
public:
    bool isConfigured() const override { return false; }
    void deviceArrived(const std::string& deviceID) override { add(arrived_, deviceID); }
    void forget(const std::string& deviceID) override { add(forgotten_, deviceID); }
    void resolved(const std::string&) override {}

    std::vector<std::string> arrived() const { return copy(arrived_); }
    std::vector<std::string> forgotten() const { return copy(forgotten_); }

private:
    void add(std::vector<std::string>& list, const std::string& id) {
        std::lock_guard lock(mutex_);
        list.push_back(id);
    }
    std::vector<std::string> copy(const std::vector<std::string>& list) const {
        std::lock_guard lock(mutex_);
        return list;
    }
    mutable std::mutex mutex_;
    std::vector<std::string> arrived_;
    std::vector<std::string> forgotten_;
};

// Requests the test says are waiting; remembers which were withdrawn.
class FakeApprovalBroker final : public ApprovalBrokerService {
public:
    std::vector<ApprovalRequest> pending() const override {
        std::lock_guard lock(mutex_);
        return pending_;
    }
    void withdraw(const std::set<std::string>& ids) override {
        std::lock_guard lock(mutex_);
        withdrawn_.insert(ids.begin(), ids.end());
    }
    std::set<std::string> withdrawn() const {
        std::lock_guard lock(mutex_);
        return withdrawn_;
    }
    void setOnAdded(std::function<void(const ApprovalRequest&)>) override {}
    void setOnResolved(std::function<void(const ApprovalResolution&)>) override {}

    void setPending(std::vector<ApprovalRequest> requests) {
        std::lock_guard lock(mutex_);
        pending_ = std::move(requests);
    }

private:
    mutable std::mutex mutex_;
    std::vector<ApprovalRequest> pending_;
    std::set<std::string> withdrawn_;
};

// Passes everything on to an injector, and records the calls the wake makes.
class RecordingInjector final : public EventInjectorService {
public:
    explicit RecordingInjector(std::shared_ptr<EventInjectorService> injector) : injector_(std::move(injector)) {}

    void move(double dx, double dy) override { injector_->move(dx, dy); }
    void point(Point to) override { injector_->point(to); }
    void click(MouseButton button, ClickPhase phase, std::int64_t count) override { injector_->click(button, phase, count); }
    void scroll(double dx, double dy) override { injector_->scroll(dx, dy); }
    void scroll(ScrollGesturePhase phase) override { injector_->scroll(phase); }
    void releaseAllButtons() override { injector_->releaseAllButtons(); }
    void release(const std::set<MouseButton>& held) override { injector_->release(held); }
    void resetScrollPhase() override { injector_->resetScrollPhase(); }
    void clearDisplayCache() override {
        record("clearDisplayCache");
        injector_->clearDisplayCache();
    }
    bool isPaused() const override { return injector_->isPaused(); }
    void setPaused(bool paused) override { injector_->setPaused(paused); }
    bool apiDisabled() const override { return injector_->apiDisabled(); }
    bool revalidateTrust() override {
        record("revalidateTrust");
        return injector_->revalidateTrust();
    }
    bool isTrusted() const override { return injector_->isTrusted(); }
    void paste(const std::string& text) override { injector_->paste(text); }
    bool paste(const std::filesystem::path& image, AttachmentFrame::Format format) override {
        return injector_->paste(image, format);
    }
    TargetOutcome postKey(const KeyChord& chord, const std::string& name) override { return injector_->postKey(chord, name); }
    void postKeyEvents(std::uint16_t keyCode, std::uint64_t flags) override { injector_->postKeyEvents(keyCode, flags); }
    void follow(const Rect& window) override { injector_->follow(window); }

    std::vector<std::string> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    void record(std::string call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    std::shared_ptr<EventInjectorService> injector_;
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
};

// A window the test says is being mirrored, or none, and the window list the test sets for
// every app.
class MirroringStreaming final : public StreamingService {
public:
    void detachViewer(const TlsConnection&) override {}
    void detachListener(const TlsConnection&) override {}
    std::optional<Rect> pointableWindowFrame() override {
        std::lock_guard lock(mutex_);
        return frame_;
    }
    void mirror(std::optional<Rect> frame) {
        std::lock_guard lock(mutex_);
        frame_ = frame;
    }
    WindowList windows(const std::string& bundleID, std::optional<std::uint32_t>, bool) override {
        std::lock_guard lock(mutex_);
        listed_.push_back(bundleID);
        return list_;
    }
    // The apps whose windows were asked for, in order.
    std::vector<std::string> listed() {
        std::lock_guard lock(mutex_);
        return listed_;
    }
    void list(WindowList list) {
        std::lock_guard lock(mutex_);
        list_ = std::move(list);
    }

private:
    std::mutex mutex_;
    std::optional<Rect> frame_;
    WindowList list_;
    std::vector<std::string> listed_;
};

}  // namespace quib::testing
