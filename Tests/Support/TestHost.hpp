#pragma once

#include <filesystem>
#include <memory>

#include "Platform/DesktopServices.hpp"
#include "Platform/Permissions.hpp"
#include "QuibHost/Reach/RemoteReach.hpp"
#include "QuibHost/Server/DeviceRegistry.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Targets/DeliveryLog.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Executor.hpp"
#include "Runtime/MainLoop.hpp"
#include "Runtime/Settings.hpp"

namespace quib::testing {

// Builds connection servers for tests as the application builds its own, making every part a
// test does not bring: a recording advertiser, and the application's services on a headless
// desktop (no app runs, no input lands, no menu or document can be read, no window is found),
// tmux looked for in the standard places, an approval broker on the main executor, a push sender
// with no way to post, remote reach and uploads keeping their files under `dataHome`, a panel
// streamer of the headless desktop (tmux panes, no window video), nobody streaming sound and no
// display to photograph.
struct TestHost {
    std::shared_ptr<Executor> main;
    std::shared_ptr<Settings> settings;
    std::shared_ptr<Clock> clock;
    std::shared_ptr<DeviceRegistry> registry;
    std::shared_ptr<Permissions> permissions;
    // Holds the host's data folder: the delivery log, the attachment inbox and the away keys.
    std::filesystem::path dataHome;

    // The parts of a host listening on a free port, with a fresh device registry and
    // SettablePermissions, for a suite that brings only its loop, settings, clock and folder.
    static TestHost onFreePort(std::shared_ptr<Executor> main, std::shared_ptr<Settings> settings,
                               std::shared_ptr<Clock> clock, std::filesystem::path dataHome);

    // A server's configuration with these parts and the `given` neighbours, each one missing
    // made as above. A test changes the rest in it before making the server.
    quib::HostServer::Config serverConfig(HostServerNeighbours given = {}) const;

    // A server of that configuration that listens on 127.0.0.1 only and reads no machine's name,
    // for a suite that watches a real channel over TLS. `stopServer` ends it.
    std::shared_ptr<quib::HostServer> loopbackServer(HostServerNeighbours given = {}) const;

    // Remote reach that maps no port and finds no address, keeping its away keys in `secrets`.
    std::shared_ptr<RemoteReach> offlineReach(const SecretStore& secrets) const;

private:
    // What the made neighbours share, each made when first needed.
    struct Shared;
    void fillTargets(HostServerNeighbours& neighbours, Shared& shared) const;
    void fillApps(HostServerNeighbours& neighbours, Shared& shared) const;
    void fillTheRest(HostServerNeighbours& neighbours, Shared& shared) const;
};

// Stops `server` (when there is one) and lets go of it once `main` has run what stopping left
// there.
void stopServer(std::shared_ptr<quib::HostServer>& server, MainLoop& main);

}  // namespace quib::testing
