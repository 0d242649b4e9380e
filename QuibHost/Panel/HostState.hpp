#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/Permissions.hpp"
#include "QuibHost/Panel/LoginItem.hpp"
#include "QuibHost/Panel/StoredPairingCode.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Executor.hpp"
#include "Runtime/Published.hpp"
#include "Runtime/Settings.hpp"
#include "Runtime/SettingsTable.hpp"

namespace quib {

// The host's own observable state for the panel and the control tool: the pairing code, the
// injection pause, whether phones may listen, the two permission flags and the login item.
// Everything here runs on the main executor; a 1.5 s timer keeps the permission flags current
// and tells phones when one really changes.
class HostState : public std::enable_shared_from_this<HostState> {
public:
    // What the host state drives elsewhere in the host. A link left empty does nothing (and a
    // query left empty answers false).
    struct Links {
        // The connection server.
        std::function<void(const std::string& pairingCode)> startServer;
        std::function<void()> broadcastStatus;
        std::function<bool()> hasConnectedDevices;
        // The event injector: its paused flag (under its state lock), releasing held buttons,
        // clearing the scroll gesture, whether its input API is disabled, and re-validating that
        // (a focused-element query) before answering the full trust check.
        std::function<void(bool paused)> setInjectorPaused;
        std::function<void()> releaseAllButtons;
        std::function<void()> resetScrollPhase;
        std::function<bool()> injectorApiDisabled;
        std::function<bool()> revalidateTrust;
        // The target store's recomputation of provisional targets.
        std::function<void()> refreshProvisional;
        // The audio streamer's allowance, given the value just stored.
        std::function<void(bool allowed)> setAudioAllowed;
    };

    struct Config {
        std::shared_ptr<Executor> main;
        std::shared_ptr<Clock> clock;  // the main executor's clock
        std::shared_ptr<Settings> settings;
        std::shared_ptr<Permissions> permissions;
        LoginItem loginItem;
        Links links;
    };

    static constexpr auto codeKey = StoredPairingCode::key;
    // Where the audio allowance lives; absent reads as allowed.
    static constexpr auto audioAllowedKey = setting<"quib.listen.allowed">;
    static constexpr std::chrono::milliseconds permissionInterval{1500};
    // Provisional targets are recomputed once every this many ticks, while phones are connected.
    static constexpr int provisionalTicks = 10;

    // Reads the stored pairing code (a new one is drawn and stored when it is missing or
    // invalid), the audio allowance, the permissions and the login item's status.
    static std::shared_ptr<HostState> create(Config config);
    ~HostState();
    HostState(const HostState&) = delete;
    HostState& operator=(const HostState&) = delete;

    Published<std::string>& pairingCode() { return pairingCode_; }
    Published<bool>& injectionPaused() { return injectionPaused_; }
    Published<bool>& audioAllowed() { return audioAllowed_; }
    Published<bool>& accessibilityGranted() { return accessibilityGranted_; }
    Published<bool>& screenRecordingGranted() { return screenRecordingGranted_; }
    Published<bool>& launchAtLogin() { return launchAtLogin_; }
    Published<std::optional<std::string>>& loginItemError() { return loginItemError_; }

    // Main executor. A new code, stored, and the server started again with it: every phone is
    // disconnected and must use the new code; approvals stay.
    void rotatePairingCode();
    // Main executor. Tells the injector; pausing also lets go of held buttons and any scroll
    // gesture. Phones are sent the new status either way.
    void setInjectionPaused(bool paused);
    // Main executor. Stored, then handed to the audio streamer: off tells its listeners so and
    // stops capture, on starts capture again while anyone listens.
    void setAudioAllowed(bool allowed);
    // Main executor. Adds or removes the login item; a failure's text lands in loginItemError.
    void setLaunchAtLogin(bool on);
    // Main executor. (Re)starts the permission timer; its first tick comes one interval later.
    void beginWatchingAccessibility();
    // Says in the log what the host lacks to post input, when it lacks it.
    void promptForAccessibility() const;
    void openAccessibilitySettings() const;

    // Input may be posted: the desktop trusts the host and the injector's API is not disabled.
    bool quickAccessibilityCheck() const;
    const LoginItem& loginItem() const { return loginItem_; }

private:
    struct Passkey {};

public:
    HostState(Passkey, Config config, std::string pairingCode);

private:
    void setPairingCode(std::string code);
    void armTimer();
    void timerFired();
    void tick();
    void broadcastStatus() const;
    bool hasConnectedDevices() const;

    std::shared_ptr<Executor> main_;
    std::shared_ptr<Clock> clock_;
    std::shared_ptr<Settings> settings_;
    std::shared_ptr<Permissions> permissions_;
    LoginItem loginItem_;
    Links links_;

    Published<std::string> pairingCode_;
    Published<bool> injectionPaused_;
    Published<bool> audioAllowed_;
    Published<bool> accessibilityGranted_;
    Published<bool> screenRecordingGranted_;
    Published<bool> launchAtLogin_;
    Published<std::optional<std::string>> loginItemError_;

    Cancellable timer_;
    MonoTime nextTick_{};
    int provisionalTick_ = 0;
};

}  // namespace quib
