// quib-host without a desktop: keeps the pairing code, starts the connection server and
// prints what a person needs to pair a phone. Runs until SIGINT or SIGTERM.

#include <pthread.h>
#include <signal.h>

#include <iostream>
#include <memory>
#include <thread>

#include "Platform/Clock.hpp"
#include "Platform/Linux/AvahiServiceAdvertiser.hpp"
#include "Platform/MainLoop.hpp"
#include "Platform/Settings.hpp"
#include "QuibHost/App/StoredPairingCode.hpp"
#include "QuibHost/Server/DeviceRegistry.hpp"
#include "QuibHost/Server/HostServer.hpp"

namespace {

sigset_t stopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    return signals;
}

// Waits for SIGINT or SIGTERM on its own thread and ends the main loop. The signals must be
// blocked in every thread before this starts, so only this thread takes them.
class StopSignalWatch {
public:
    explicit StopSignalWatch(quib::MainLoop& loop)
        : thread_([&loop] {
              sigset_t signals = stopSignals();
              int number = 0;
              sigwait(&signals, &number);
              loop.quit();
          }) {}
    ~StopSignalWatch() {
        pthread_kill(thread_.native_handle(), SIGTERM);  // wakes the watch if no signal came
        thread_.join();
    }

private:
    std::thread thread_;
};

}  // namespace

int main() {
    using namespace quib;
    sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before any thread exists

    auto loop = std::make_shared<MainLoop>();
    auto settings = Settings::atPath(Settings::defaultPath());
    auto clock = SystemClock::shared();
    const std::string code = StoredPairingCode::loadOrCreate(*settings);

    HostServer::Config config;
    config.main = loop;
    config.settings = settings;
    config.clock = clock;
    config.registry = DeviceRegistry::create(loop, settings, clock);
    config.advertiser = std::make_shared<AvahiServiceAdvertiser>();
    auto server = HostServer::create(std::move(config));
    server->start(code);

    auto port = server->inspect().listenerPort;
    loop->runPending();  // publishes a listener failure
    if (!port) {
        std::cerr << "quib-host: cannot listen: " << server->lastError().value().value_or("unknown error") << std::endl;
        return 1;
    }
    // Standard output only: the pairing code never goes to the log.
    std::cout << "Pairing code: " << code << "\n"
              << "Port: " << *port << "\n"
              << "Name: " << server->hostDisplayName() << std::endl;

    {
        StopSignalWatch watch(*loop);
        loop->run();
    }
    server->stop();
    loop->runPending();
    return 0;
}
