#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Platform/SerialQueue.hpp"
#include "QuibHost/Approvals/ApprovalBrokerService.hpp"
#include "QuibHost/Approvals/PushSenderService.hpp"
#include "QuibHost/Apps/AppCatalogService.hpp"
#include "QuibHost/Server/Neighbours/StillCaptureService.hpp"
#include "QuibHost/Apps/VocabularyService.hpp"
#include "QuibHost/Server/Neighbours/AudioStreamerService.hpp"
#include "QuibHost/Streaming/PanelStreamerService.hpp"
#include "QuibHost/Server/Neighbours/WindowListService.hpp"
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
    void setPinnedWindow(std::optional<std::uint32_t> windowID, std::optional<std::string> title,
                         const std::string& id) override {
        record(calls.pinned, Pin{windowID, std::move(title), id});
    }
    void refreshProvisional() override {}
    AddOutcome add(QuibTarget t) override { return answer(calls.added, std::move(t)); }
    AddOutcome update(QuibTarget t) override { return answer(calls.updated, std::move(t)); }
    void reconcile(const std::vector<Tmux::Pane>& panes, bool, bool, bool) override { record(calls.reconciled, panes); }
    void refreshTmux() override {}

    // A window a target was pinned to; none: unpinned.
    struct Pin {
        std::optional<std::uint32_t> windowID;
        std::optional<std::string> title;
        std::string targetID;
        bool operator==(const Pin&) const = default;
    };
    // What the server asked of the store, in order.
    struct Calls {
        std::vector<Pin> pinned;
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

// Remembers which devices arrived and which were forgotten, and what was handed on for pushing.
class RecordingPushSender final : public PushSenderService {
public:
    bool isConfigured() const override { return false; }
    void deviceArrived(const std::string& deviceID) override { add(arrived_, deviceID); }
    void forget(const std::string& deviceID) override { add(forgotten_, deviceID); }
    void resolved(const std::string& approvalID) override { add(resolved_, approvalID); }
    void registerDevice(const PushRegistration& registration, const std::string& deviceID) override {
        add(registered_, deviceID + ":" + registration.token.value_or("-"));
    }
    // "<targetName>:<targetID>" per event; the request's id per request.
    void send(const AgentEvent& event, const std::string& targetName, const std::set<std::string>&) override {
        add(events_, targetName + ":" + event.targetID);
    }
    void send(const ApprovalRequest& request, const std::set<std::string>&) override { add(requests_, request.id); }

    std::vector<std::string> arrived() const { return copy(arrived_); }
    std::vector<std::string> forgotten() const { return copy(forgotten_); }
    std::vector<std::string> resolved() const { return copy(resolved_); }
    std::vector<std::string> registered() const { return copy(registered_); }
    std::vector<std::string> events() const { return copy(events_); }
    std::vector<std::string> requests() const { return copy(requests_); }

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
    std::vector<std::string> resolved_;
    std::vector<std::string> registered_;
    std::vector<std::string> events_;
    std::vector<std::string> requests_;
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
    // Calls `onSubmit` first, then answers `added`.
    ApprovalLedger::AddOutcome submit(const ApprovalRequest& request) override {
        if (onSubmit) onSubmit(request);
        std::lock_guard lock(mutex_);
        submitted_.push_back(request);
        return ApprovalLedger::AddOutcome::added();
    }
    void decide(const std::string&, ApprovalDecision, const std::optional<std::string>&,
                const std::optional<std::string>&) override {}
    std::vector<ApprovalRequest> submitted() const {
        std::lock_guard lock(mutex_);
        return submitted_;
    }
    std::function<void(const ApprovalRequest&)> onSubmit;
    void setOnAdded(std::function<void(const ApprovalRequest&)>) override {}
    void setOnResolved(std::function<void(const ApprovalResolution&)>) override {}

    void setPending(std::vector<ApprovalRequest> requests) {
        std::lock_guard lock(mutex_);
        pending_ = std::move(requests);
    }

private:
    mutable std::mutex mutex_;
    std::vector<ApprovalRequest> pending_;
    std::vector<ApprovalRequest> submitted_;
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

// A window the test says is being mirrored, or none. Remembers who was attached, as
// "view:<device>".
class MirroringPanelStreamer final : public PanelStreamerService {
public:
    void attachViewer(const std::shared_ptr<TlsConnection>&, const ViewHelloPayload& hello) override {
        std::lock_guard lock(mutex_);
        attached_.push_back("view:" + hello.deviceID);
    }
    std::vector<std::string> attached() const {
        std::lock_guard lock(mutex_);
        return attached_;
    }
    void detachViewer(const TlsConnection&) override {}
    std::optional<Rect> pointableWindowFrame() override {
        std::lock_guard lock(mutex_);
        return frame_;
    }
    void mirror(std::optional<Rect> frame) {
        std::lock_guard lock(mutex_);
        frame_ = frame;
    }

private:
    mutable std::mutex mutex_;
    std::optional<Rect> frame_;
    std::vector<std::string> attached_;
};

// Remembers who was attached, as "listen:<device>".
class RecordingAudioStreamer final : public AudioStreamerService {
public:
    void attachListener(const std::shared_ptr<TlsConnection>&, const ListenHelloPayload& hello) override {
        std::lock_guard lock(mutex_);
        attached_.push_back("listen:" + hello.deviceID);
    }
    std::vector<std::string> attached() const {
        std::lock_guard lock(mutex_);
        return attached_;
    }
    void detachListener(const TlsConnection&) override {}

private:
    mutable std::mutex mutex_;
    std::vector<std::string> attached_;
};

// The window list the test sets for every app.
class FixedWindowList final : public WindowListService {
public:
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
    WindowList list_;
    std::vector<std::string> listed_;
};

// The terms the test sets, for every target, on a queue of its own.
class FakeVocabulary final : public VocabularyService {
public:
    Executor& queue() override { return queue_; }
    std::vector<std::string> terms(const QuibTarget&) override {
        std::lock_guard lock(mutex_);
        return terms_;
    }
    void setTerms(std::vector<std::string> terms) {
        std::lock_guard lock(mutex_);
        terms_ = std::move(terms);
    }

private:
    SerialQueue queue_{"test.vocabulary"};
    std::mutex mutex_;
    std::vector<std::string> terms_;
};

// Knows the apps the test sets; remembers what each suggestion request excluded and its limit.
class RecordingAppCatalog final : public AppCatalogService {
public:
    std::vector<MacApp> suggestions(bool, const std::set<std::string>& alreadyTargeted, std::size_t limit) override {
        std::lock_guard lock(mutex_);
        excluded_ = alreadyTargeted;
        limit_ = limit;
        return apps_;
    }
    std::vector<MacApp> icons(const std::vector<std::string>& bundleIDs) override {
        std::lock_guard lock(mutex_);
        std::vector<MacApp> found;
        for (const auto& app : apps_)
            if (std::find(bundleIDs.begin(), bundleIDs.end(), app.bundleID) != bundleIDs.end()) found.push_back(app);
        return found;
    }
    void setApps(std::vector<MacApp> apps) {
        std::lock_guard lock(mutex_);
        apps_ = std::move(apps);
    }
    std::set<std::string> excluded() const {
        std::lock_guard lock(mutex_);
        return excluded_;
    }
    std::size_t limit() const {
        std::lock_guard lock(mutex_);
        return limit_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<MacApp> apps_;
    std::set<std::string> excluded_;
    std::size_t limit_ = 0;
};

// Answers every capture with the outcome the test sets.
class FakeStillCapture final : public StillCaptureService {
public:
    void capture(const QuibTarget&, std::int64_t, std::function<void(Outcome)> done) override {
        Outcome outcome = Refusal::noDisplay();
        {
            std::lock_guard lock(mutex_);
            outcome = outcome_;
        }
        done(std::move(outcome));
    }
    void set(Outcome outcome) {
        std::lock_guard lock(mutex_);
        outcome_ = std::move(outcome);
    }

private:
    std::mutex mutex_;
    Outcome outcome_ = Refusal::noDisplay();
};

}  // namespace quib::testing
