#include "QuibHost/Panel/MenuViewModelSource.hpp"

#include "QuibHost/Panel/MenuFrame.hpp"
#include "Runtime/Required.hpp"
#include "Shared/ApprovalClock.hpp"

namespace quib {
namespace {

// Runs a closure once, whichever of several callers comes first.
class Once {
public:
    explicit Once(std::function<void()> run) : run_(std::move(run)) {}
    void operator()() {
        if (run_) std::exchange(run_, nullptr)();
    }
    Cancellable timeout;

private:
    std::function<void()> run_;
};

}  // namespace

std::shared_ptr<MenuViewModelSource> MenuViewModelSource::create(Config config) {
    auto source = std::make_shared<MenuViewModelSource>(Passkey{}, std::move(config));
    source->watch();
    return source;
}

MenuViewModelSource::MenuViewModelSource(Passkey, Config config)
    : config_(std::move(config)), model_(required(config_.main, "MenuViewModelSource", "main executor"), {}) {
    required(config_.server, "MenuViewModelSource", "server");
    required(config_.store, "MenuViewModelSource", "target store");
    required(config_.state, "MenuViewModelSource", "host state");
    required(config_.registry, "MenuViewModelSource", "device registry");
    model_.set(buildMenuView(snapshot()));
}

MenuViewState MenuViewModelSource::snapshot() const {
    auto& server = *config_.server;
    auto& state = *config_.state;
    auto& store = *config_.store;
    const auto& neighbours = server.neighbours();
    return {
        .isListening = server.isListening().value(),
        .hostDisplayName = server.hostDisplayName(),
        .connectedDevices = server.connectedDevices().value(),
        .lastError = server.lastError().value(),
        .lastActivity = server.lastActivity().value(),
        .pairingCode = state.pairingCode().value(),
        .accessibilityGranted = state.accessibilityGranted().value(),
        .screenRecordingGranted = state.screenRecordingGranted().value(),
        .injectionPaused = state.injectionPaused().value(),
        .audioAllowed = state.audioAllowed().value(),
        .launchAtLogin = state.launchAtLogin().value(),
        .loginItemError = state.loginItemError().value(),
        .loginItemOffered = state.loginItem().isOffered(),
        .approvedDevices = config_.registry->approved().value(),
        .revokedDevices = config_.registry->revoked().value(),
        .pendingApprovals = neighbours.approvals->pendingRequests().value(),
        .nowEpochMillis = ApprovalClock::now(),
        .targets = store.targets().value(),
        .activeTargetID = store.activeTargetID().value(),
        .unresolvedTargetIDs = store.unresolvedTargetIDs().value(),
        .awayEnabled = neighbours.reach->isEnabled(),
        .candidates = neighbours.reach->candidates().value(),
        .reachStatus = neighbours.reach->status().value(),
        .reachDetail = neighbours.reach->detail().value(),
        .push = push_,
    };
}

void MenuViewModelSource::watch() {
    auto& server = *config_.server;
    auto& state = *config_.state;
    auto& store = *config_.store;
    const auto& neighbours = server.neighbours();
    watch(server.isListening());
    watch(server.connectedDevices());
    watch(server.lastError());
    watch(server.lastActivity());
    watch(state.pairingCode());
    watch(state.accessibilityGranted());
    watch(state.screenRecordingGranted());
    watch(state.injectionPaused());
    watch(state.audioAllowed());
    watch(state.launchAtLogin());
    watch(state.loginItemError());
    watch(config_.registry->approved());
    watch(config_.registry->revoked());
    watch(neighbours.approvals->pendingRequests());
    watch(store.targets());
    watch(store.activeTargetID());
    watch(store.unresolvedTargetIDs());
    watch(neighbours.reach->candidates());
    watch(neighbours.reach->status());
    watch(neighbours.reach->detail());
}

template <class T>
void MenuViewModelSource::watch(Published<T>& value) {
    subscriptions_.push_back(value.subscribe(
        [weak = weak_from_this()](const T&) {
            if (auto self = weak.lock()) self->changed();
        },
        {.skipCurrent = true}));
}

Subscription MenuViewModelSource::show() {
    if (shown_++ == 0) rebuild();
    return Subscription([weak = weak_from_this()] {
        if (auto self = weak.lock()) --self->shown_;
    });
}

void MenuViewModelSource::changed() {
    if (std::exchange(waiting_, true) || shown_ == 0) return;
    config_.main->post([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->rebuild();
    });
}

void MenuViewModelSource::rebuild() {
    if (waiting_) (void)current();
}

// Built from what is published now, so that it holds every change, even one whose rebuild (or
// the first model's publication, when made off the main thread) is still queued.
MenuViewModel MenuViewModelSource::current() {
    waiting_ = false;
    auto model = buildMenuView(snapshot());
    if (!(model == model_.value())) model_.set(model);
    return model;
}

void MenuViewModelSource::appeared(std::function<void()> settled) {
    auto once = std::make_shared<Once>(settled ? std::move(settled) : [] {});
    const bool asked =
        config_.actions && config_.actions->pushSummary([weak = weak_from_this(), once](std::string text) {
            if (auto self = weak.lock()) {
                self->push_ = std::move(text);
                self->waiting_ = true;
                self->rebuild();
            }
            once->timeout.cancel();
            (*once)();
        });
    if (!asked) return (*once)();
    once->timeout = config_.main->postAfter(settleLimit, [once] { (*once)(); });
}

}  // namespace quib
