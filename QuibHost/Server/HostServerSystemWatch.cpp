#include "QuibHost/Server/HostServer.hpp"
#include "Runtime/AssertOn.hpp"

namespace quib {

// Sleep and wake are handled on the main executor, since stop() waits for the network queue.
void HostServer::beginSystemWatch() {
    assertOn(*main_);
    systemWatch_.begin(
        *network_,
        [main = main_, weak = weak_from_this()](bool goingToSleep) {
            main->post([weak, goingToSleep] {
                if (auto server = weak.lock()) goingToSleep ? server->goingToSleep() : server->wake();
            });
        },
        [this] { onMain([](HostServer& server) { server.start(server.pairingCode_); }); });
}

// The sleep is let go only once every connection is closed and the held buttons released.
void HostServer::goingToSleep() {
    assertOn(*main_);
    stop();
    systemWatch_.allowSleep();
}

void HostServer::wake() {
    assertOn(*main_);
    (void)neighbours_.injector->revalidateTrust();
    neighbours_.injector->clearDisplayCache();
    start(pairingCode_);
    broadcastStatus();
    systemWatch_.delaySleep();
}

}  // namespace quib
