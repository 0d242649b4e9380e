#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "QuibHost/Approvals/PushSender.hpp"
#include "QuibHost/Panel/HostState.hpp"
#include "QuibHost/Panel/MenuAction.hpp"
#include "QuibHost/Server/DeviceRegistry.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Streaming/ScreenAccess.hpp"
#include "QuibHost/Targets/AttachmentInbox.hpp"
#include "QuibHost/Targets/DeliveryLog.hpp"
#include "QuibHost/Targets/TargetStoreService.hpp"

namespace quib {

// What the panel's controls do: each one operation of a shared object, or a fixed sequence of
// them, and nothing else. The panel's widgets and the control tool both come here, so a button
// and its command share one code path. Main executor only.
class MenuActions {
public:
    struct Config {
        std::shared_ptr<HostState> state = nullptr;
        std::shared_ptr<DeviceRegistry> registry = nullptr;
        std::shared_ptr<HostServer> server = nullptr;
        std::shared_ptr<TargetStoreService> store = nullptr;
        std::shared_ptr<DeliveryLog> log = nullptr;        // none: there is no log to show
        std::shared_ptr<AttachmentInbox> inbox = nullptr;  // none: there is no inbox to show
        std::shared_ptr<PushSender> push = nullptr;        // none: nothing is pushed
        // None: the host cannot capture, and asking for it only says so in the log.
        std::shared_ptr<ScreenAccess> screenAccess = nullptr;
        // Asks the application to end, as a signal does; none: Quit does nothing.
        std::function<void()> quit = nullptr;
        // Brings up the settings window; none: Settings… does nothing.
        std::function<void()> openSettings = nullptr;
    };

    explicit MenuActions(Config config);

    void perform(const MenuAction& action);

    // A new code, stored; the server starts again with it, so every phone is disconnected.
    void rotatePairingCode();
    // The phone is approved under `name`, which the last activity then names.
    // Each fails when the registry could not store the change; it holds in memory either way.
    Result<void> approveDevice(const std::string& deviceID, const std::string& name);
    Result<void> revokeDevice(const std::string& deviceID);
    void setInjectionPaused(bool paused);
    void setAudioAllowed(bool allowed);
    // Only the installed host offers the login item; elsewhere this fails with the text that
    // says how to install it.
    Result<void> setLaunchAtLogin(bool on);
    bool loginItemOffered() const;
    // The switch stored first (the away listener reads it), then the away listener started or
    // stopped, then every approved phone told how to reach the host.
    void setAwayEnabled(bool enabled);
    // Maps the away port and asks for the public address again.
    void retryAway();
    void useTarget(const std::optional<std::string>& targetID);
    // Makes the file or folder when it is missing, shows it, and returns its path.
    // Fails when it has nowhere to live, or the desktop could not show it (with why).
    Result<std::filesystem::path> revealDeliveryLog();
    Result<std::filesystem::path> revealImageInbox();
    // An answer from this computer: no reason, no device.
    void answerRequest(const std::string& requestID, ApprovalDecision decision);
    // Each asks the desktop for its permission and says where it is given; on Linux, a log line
    // saying what is missing.
    void openAccessibilitySettings();
    void openScreenRecordingSettings();
    void openSettings();
    void quit();
    // The push relay's one-line summary, handed to `completion` on the main executor; false
    // (and `completion` never called) when the host has no push sender.
    bool pushSummary(std::function<void(std::string)> completion);

private:
    Config config_;
};

}  // namespace quib
