#pragma once

#include <vector>

#include "QuibHost/Panel/MenuViewModel.hpp"
#include "QuibHost/Panel/MenuViewState.hpp"

namespace quib {

// The phones: those connected now in the server's order (waiting ones to approve, approved
// ones to revoke), then the approved ones not connected and, under their own title, the
// revoked ones to approve again, each in the registry's order; last, the server's last error.
// Rows are keyed by device identifier, so a phone the server lists twice shows once.
class MenuDevices {
public:
    static std::vector<MenuItem> items(const MenuViewState& state);
    // The server's list with only the first entry of each identifier.
    static std::vector<HostServer::ConnectedDevice> connected(const MenuViewState& state);
    // The approved phones, in the registry's order, that are not connected.
    static DeviceRegistry::DeviceList offlineApproved(const MenuViewState& state);
};

}  // namespace quib
