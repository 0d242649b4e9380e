#pragma once

#include <optional>
#include <string>
#include <variant>

#include "Shared/ApprovalDecision.hpp"

namespace quib {

// What one control of the panel does, as a value: the widgets hand it to MenuActions::perform,
// and the control tool calls the same operations by name.
namespace MenuControl {

// A new pairing code; every phone is disconnected.
struct RotatePairingCode {
    bool operator==(const RotatePairingCode&) const = default;
};
// A waiting or revoked phone, under the name the panel shows.
struct ApproveDevice {
    std::string deviceID;
    std::string name;
    bool operator==(const ApproveDevice&) const = default;
};
struct RevokeDevice {
    std::string deviceID;
    bool operator==(const RevokeDevice&) const = default;
};
struct SetInjectionPaused {
    bool paused = false;
    bool operator==(const SetInjectionPaused&) const = default;
};
// Stored, then handed to the audio streamer.
struct SetAudioAllowed {
    bool allowed = false;
    bool operator==(const SetAudioAllowed&) const = default;
};
// Adds or removes the login item; a failure shows under the switch.
struct SetLaunchAtLogin {
    bool on = false;
    bool operator==(const SetLaunchAtLogin&) const = default;
};
struct SetAwayEnabled {
    bool enabled = false;
    bool operator==(const SetAwayEnabled&) const = default;
};
// Map the away port and ask for the public address again.
struct RetryAway {
    bool operator==(const RetryAway&) const = default;
};
// None: no target is active.
struct UseTarget {
    std::optional<std::string> targetID;
    bool operator==(const UseTarget&) const = default;
};
struct RevealDeliveryLog {
    bool operator==(const RevealDeliveryLog&) const = default;
};
struct RevealImageInbox {
    bool operator==(const RevealImageInbox&) const = default;
};
// An agent's request answered by this computer.
struct AnswerRequest {
    std::string requestID;
    ApprovalDecision decision = ApprovalDecision::deny;
    bool operator==(const AnswerRequest&) const = default;
};

// Where the desktop grants the right to post input, or to capture the screen. Neither changes
// a permission flag: the host state's next reading of the permissions does.
struct OpenAccessibilitySettings {
    bool operator==(const OpenAccessibilitySettings&) const = default;
};
struct OpenScreenRecordingSettings {
    bool operator==(const OpenScreenRecordingSettings&) const = default;
};

// The settings window.
struct OpenSettings {
    bool operator==(const OpenSettings&) const = default;
};
// Ends the host as a signal would: held buttons let go, the server stopped.
struct Quit {
    bool operator==(const Quit&) const = default;
};

}  // namespace MenuControl

using MenuAction = std::variant<MenuControl::RotatePairingCode, MenuControl::ApproveDevice, MenuControl::RevokeDevice,
                                MenuControl::SetInjectionPaused, MenuControl::SetAwayEnabled, MenuControl::RetryAway,
                                MenuControl::UseTarget, MenuControl::RevealDeliveryLog, MenuControl::RevealImageInbox,
                                MenuControl::AnswerRequest, MenuControl::OpenAccessibilitySettings,
                                MenuControl::OpenScreenRecordingSettings, MenuControl::SetAudioAllowed,
                                MenuControl::SetLaunchAtLogin, MenuControl::OpenSettings, MenuControl::Quit>;

}  // namespace quib
