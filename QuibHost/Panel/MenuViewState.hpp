#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "QuibHost/Reach/RemoteReachService.hpp"
#include "QuibHost/Server/DeviceRegistry.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "Shared/ApprovalRequest.hpp"
#include "Shared/QuibCandidate.hpp"
#include "Shared/QuibTarget.hpp"

namespace quib {

// Every value the panel reads, copied at one moment on the main executor, so that the panel is
// built from one consistent picture.
struct MenuViewState {
    // The connection server.
    bool isListening = false;
    std::string hostDisplayName;
    std::vector<HostServer::ConnectedDevice> connectedDevices;
    std::optional<std::string> lastError;
    std::optional<std::string> lastActivity;

    // The host state.
    std::string pairingCode;
    bool accessibilityGranted = false;
    bool screenRecordingGranted = false;
    bool injectionPaused = false;
    bool audioAllowed = false;
    bool launchAtLogin = false;
    std::optional<std::string> loginItemError;
    // The running host is the installed one, so the login item is offered.
    bool loginItemOffered = false;

    // The device registry.
    DeviceRegistry::DeviceList approvedDevices;
    DeviceRegistry::DeviceList revokedDevices;

    // The approval broker, and the time its countdowns are reckoned from (epoch milliseconds).
    std::vector<ApprovalRequest> pendingApprovals;
    std::int64_t nowEpochMillis = 0;

    // The target store.
    std::vector<QuibTarget> targets;
    std::optional<std::string> activeTargetID;
    std::set<std::string> unresolvedTargetIDs;

    // Away access: the stored switch, and what remote reach publishes.
    bool awayEnabled = false;
    std::vector<QuibCandidate> candidates;
    RemoteReachService::Status reachStatus;
    std::optional<std::string> reachDetail;

    // The panel's own state: the push relay's summary, empty until it first arrives.
    std::string push;
};

}  // namespace quib
