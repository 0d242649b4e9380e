#include "QuibHost/Panel/MenuActions.hpp"

#include <type_traits>

#include "QuibHost/Panel/MenuControls.hpp"
#include "Runtime/Logger.hpp"

namespace quib {

namespace {

// A button has no answer to show: what the desktop could not do goes to the log.
void logFailure(const Result<std::filesystem::path>& revealed) {
    if (!revealed) quibLog().error("reveal: ", pub(revealed.error().message));
}

}  // namespace

MenuActions::MenuActions(Config config) : config_(std::move(config)) {}

void MenuActions::perform(const MenuAction& action) {
    std::visit(
        [this](const auto& command) {
            using Command = std::decay_t<decltype(command)>;
            if constexpr (std::is_same_v<Command, MenuControl::RotatePairingCode>) rotatePairingCode();
            else if constexpr (std::is_same_v<Command, MenuControl::ApproveDevice>)
                (void)approveDevice(command.deviceID, command.name);
            else if constexpr (std::is_same_v<Command, MenuControl::RevokeDevice>) (void)revokeDevice(command.deviceID);
            else if constexpr (std::is_same_v<Command, MenuControl::SetInjectionPaused>)
                setInjectionPaused(command.paused);
            else if constexpr (std::is_same_v<Command, MenuControl::SetAwayEnabled>) setAwayEnabled(command.enabled);
            else if constexpr (std::is_same_v<Command, MenuControl::RetryAway>) retryAway();
            else if constexpr (std::is_same_v<Command, MenuControl::UseTarget>) useTarget(command.targetID);
            else if constexpr (std::is_same_v<Command, MenuControl::RevealDeliveryLog>) logFailure(revealDeliveryLog());
            else if constexpr (std::is_same_v<Command, MenuControl::RevealImageInbox>) logFailure(revealImageInbox());
            else if constexpr (std::is_same_v<Command, MenuControl::AnswerRequest>)
                answerRequest(command.requestID, command.decision);
            else if constexpr (std::is_same_v<Command, MenuControl::OpenAccessibilitySettings>)
                openAccessibilitySettings();
            else if constexpr (std::is_same_v<Command, MenuControl::OpenScreenRecordingSettings>)
                openScreenRecordingSettings();
            else if constexpr (std::is_same_v<Command, MenuControl::SetAudioAllowed>) setAudioAllowed(command.allowed);
            else if constexpr (std::is_same_v<Command, MenuControl::SetLaunchAtLogin>)
                (void)setLaunchAtLogin(command.on);
            else if constexpr (std::is_same_v<Command, MenuControl::OpenSettings>) openSettings();
            else if constexpr (std::is_same_v<Command, MenuControl::Quit>) quit();
        },
        action);
}

void MenuActions::rotatePairingCode() { config_.state->rotatePairingCode(); }

Result<void> MenuActions::approveDevice(const std::string& deviceID, const std::string& name) {
    auto saved = config_.registry->approve(deviceID, name);
    config_.server->note("Approved " + name);
    return saved;
}

Result<void> MenuActions::revokeDevice(const std::string& deviceID) { return config_.server->revoke(deviceID); }

void MenuActions::setInjectionPaused(bool paused) { config_.state->setInjectionPaused(paused); }

void MenuActions::setAudioAllowed(bool allowed) { config_.state->setAudioAllowed(allowed); }

bool MenuActions::loginItemOffered() const { return config_.state->loginItem().isOffered(); }

Result<void> MenuActions::setLaunchAtLogin(bool on) {
    if (!loginItemOffered()) return fail(MenuControls::installHint());
    config_.state->setLaunchAtLogin(on);
    return {};
}

void MenuActions::setAwayEnabled(bool enabled) {
    auto& server = *config_.server;
    server.neighbours().reach->setEnabled(enabled);
    if (enabled) server.startAway();
    else server.stopAway();
    server.broadcastRemoteAccess();
}

void MenuActions::retryAway() { config_.server->neighbours().reach->refresh(); }

void MenuActions::useTarget(const std::optional<std::string>& targetID) { config_.store->setActive(targetID); }

Result<std::filesystem::path> MenuActions::revealDeliveryLog() {
    if (!config_.log) return fail("The delivery log has no folder to live in.");
    return config_.log->reveal();
}

Result<std::filesystem::path> MenuActions::revealImageInbox() {
    if (!config_.inbox) return fail("The image inbox has no folder to live in.");
    return config_.inbox->reveal();
}

void MenuActions::answerRequest(const std::string& requestID, ApprovalDecision decision) {
    config_.server->neighbours().approvals->decide(requestID, decision, std::nullopt, std::nullopt);
}

void MenuActions::openAccessibilitySettings() { config_.state->openAccessibilitySettings(); }

void MenuActions::openScreenRecordingSettings() {
    if (config_.screenAccess) return config_.screenAccess->openSettings();
    quibLog().info("view: window capture: this host has no screen capture, so there is nothing to grant");
}

void MenuActions::openSettings() {
    if (config_.openSettings) config_.openSettings();
}

void MenuActions::quit() {
    quibLog().info("quit: asked to end");
    if (config_.quit) config_.quit();
}

bool MenuActions::pushSummary(std::function<void(std::string)> completion) {
    if (!config_.push) return false;
    config_.push->summary(std::move(completion));
    return true;
}

}  // namespace quib
