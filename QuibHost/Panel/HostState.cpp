#include "QuibHost/Panel/HostState.hpp"

#include "Runtime/AssertOn.hpp"
#include "Runtime/Logger.hpp"
#include "Shared/QuibTransport.hpp"

namespace quib {
namespace {

bool ask(const std::function<bool()>& query) { return query ? query() : false; }
void call(const std::function<void()>& action) {
    if (action) action();
}

}  // namespace

std::shared_ptr<HostState> HostState::create(Config config) {
    std::string code = StoredPairingCode::loadOrCreate(*config.settings);
    return std::make_shared<HostState>(Passkey{}, std::move(config), std::move(code));
}

HostState::HostState(Passkey, Config config, std::string pairingCode)
    : main_(std::move(config.main)),
      clock_(std::move(config.clock)),
      settings_(std::move(config.settings)),
      permissions_(std::move(config.permissions)),
      loginItem_(std::move(config.loginItem)),
      links_(std::move(config.links)),
      pairingCode_(main_, std::move(pairingCode)),
      injectionPaused_(main_, false),
      audioAllowed_(main_, settings_->get(audioAllowedKey)),
      accessibilityGranted_(main_, quickAccessibilityCheck()),
      screenRecordingGranted_(main_, permissions_->screenRecordingGranted()),
      launchAtLogin_(main_, loginItem_.isEnabled()),
      loginItemError_(main_, std::nullopt) {}

HostState::~HostState() { timer_.cancel(); }

bool HostState::quickAccessibilityCheck() const {
    return permissions_->accessibilityTrusted() && !ask(links_.injectorApiDisabled);
}

void HostState::setPairingCode(std::string code) {
    (void)settings_->setString(codeKey, code);  // a failure is logged by the settings
    pairingCode_.set(std::move(code));
}

void HostState::rotatePairingCode() {
    assertOn(*main_);
    setPairingCode(QuibTransport::newPairingCode());
    quibLog().info("pairing code rotated: every phone was disconnected and must use the new one");
    if (links_.startServer) links_.startServer(pairingCode_.value());
}

void HostState::setInjectionPaused(bool paused) {
    assertOn(*main_);
    injectionPaused_.set(paused);
    quibLog().info(paused ? "input from phones paused" : "input from phones resumed");
    if (links_.setInjectorPaused) links_.setInjectorPaused(paused);
    if (paused) {
        call(links_.releaseAllButtons);
        call(links_.resetScrollPhase);
    }
    broadcastStatus();
}

void HostState::setAudioAllowed(bool allowed) {
    assertOn(*main_);
    audioAllowed_.set(allowed);
    (void)settings_->setBool(audioAllowedKey, allowed);  // a failure is logged by the settings
    if (links_.setAudioAllowed) links_.setAudioAllowed(allowed);
}

void HostState::setLaunchAtLogin(bool on) {
    assertOn(*main_);
    loginItemError_.set(loginItem_.setEnabled(on));
    launchAtLogin_.set(loginItem_.isEnabled());
}

void HostState::promptForAccessibility() const {
    if (quickAccessibilityCheck()) return;
    quibLog().warning("accessibility: not granted: ", pub(permissions_->accessibilityHelp()));
}

void HostState::openAccessibilitySettings() const { promptForAccessibility(); }

void HostState::beginWatchingAccessibility() {
    assertOn(*main_);
    timer_.cancel();
    nextTick_ = clock_->now() + permissionInterval;
    armTimer();
}

void HostState::armTimer() {
    std::weak_ptr<HostState> weak = weak_from_this();
    timer_ = main_->postAfter(nextTick_ - clock_->now(), [weak] {
        if (auto state = weak.lock()) state->timerFired();
    });
}

// Ticks keep their rhythm; a tick that came too late for the next one is not made up.
void HostState::timerFired() {
    assertOn(*main_);
    tick();
    nextTick_ += permissionInterval;
    if (nextTick_ <= clock_->now()) nextTick_ = clock_->now() + permissionInterval;
    armTimer();
}

void HostState::tick() {
    const bool connected = hasConnectedDevices();
    const bool trusted = connected && links_.revalidateTrust ? links_.revalidateTrust() : quickAccessibilityCheck();
    if (trusted != accessibilityGranted_.value()) {
        accessibilityGranted_.set(trusted);
        broadcastStatus();
    }
    const bool capturing = permissions_->screenRecordingGranted();
    if (capturing != screenRecordingGranted_.value()) {
        screenRecordingGranted_.set(capturing);
        broadcastStatus();
    }
    const bool atLogin = loginItem_.isEnabled();
    if (atLogin != launchAtLogin_.value()) launchAtLogin_.set(atLogin);
    if (++provisionalTick_ >= provisionalTicks) {
        provisionalTick_ = 0;
        if (hasConnectedDevices()) call(links_.refreshProvisional);
    }
}

void HostState::broadcastStatus() const { call(links_.broadcastStatus); }
bool HostState::hasConnectedDevices() const { return ask(links_.hasConnectedDevices); }

}  // namespace quib
