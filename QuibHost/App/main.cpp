// quib-host: the host process. It runs on its own main loop, without a desktop toolkit, until
// SIGINT or SIGTERM; the control socket and quibctl stand in for the menu-bar panel.

#include <signal.h>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Clock.hpp"
#include "Platform/HeadlessDesktop.hpp"
#include "Platform/HeadlessPermissions.hpp"
#include "Platform/Linux/AvahiServiceAdvertiser.hpp"
#include "Platform/Linux/LogindSleepWatch.hpp"
#include "Platform/Linux/NetlinkInterfaceWatch.hpp"
#include "Platform/Linux/XdgOpenRevealer.hpp"
#include "Platform/MainLoop.hpp"
#include "Platform/Settings.hpp"
#include "QuibHost/App/LoginItem.hpp"
#include "QuibHost/App/QuibHostApp.hpp"
#include "QuibHost/App/SignalWatcher.hpp"

namespace {

// Prints what a person needs to pair a phone, on standard output only: the pairing code never
// goes to the log. Without a listener, says why and ends the main loop.
void announce(const quib::QuibHostApp::Launched& launched, quib::QuibHostApp& app, quib::MainLoop& loop, int& status) {
    if (!launched.port) {
        // The listener's failure reaches the published last error in a task queued before this one.
        loop.post([&app, &loop, &status] {
            std::cerr << "quib-host: cannot listen: " << app.server().lastError().value().value_or("unknown error")
                      << std::endl;
            status = 1;
            loop.quit();
        });
        return;
    }
    std::cout << "Pairing code: " << launched.pairingCode << "\n"
              << "Port: " << *launched.port << "\n"
              << "Name: " << launched.name << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quib;
    // Before any thread exists, so that only the watcher ever takes these signals.
    SignalWatcher::block({SIGINT, SIGTERM});
    // A peer or tool that goes away mid-write makes that write fail instead of ending the host.
    ::signal(SIGPIPE, SIG_IGN);

    auto clock = SystemClock::shared();
    auto loop = std::make_shared<MainLoop>(clock);
    QuibHostApp::Config config{loop,
                               clock,
                               Settings::atPath(Settings::defaultPath()),
                               std::make_shared<HeadlessPermissions>(),
                               std::make_shared<AvahiServiceAdvertiser>(),
                               LoginItem::forThisProgram(),
                               {},
                               std::vector<std::string>(argv, argv + argc),
                               std::nullopt,
                               "::",
                               std::make_shared<XdgOpenRevealer>(),
                               std::nullopt};
    // No display backend yet: input is built and dropped, and the pasteboard lives in the process.
    config.desktop = HeadlessDesktop::services();
    config.sleep = std::make_shared<LogindSleepWatch>();
    config.interfaces = std::make_shared<NetlinkInterfaceWatch>();
    auto app = QuibHostApp::create(std::move(config));

    int status = 0;
    loop->post([&] { announce(app->launch(), *app, *loop, status); });
    {
        SignalWatcher watcher({SIGINT, SIGTERM}, [loop](int) { loop->quit(); });
        loop->run();
    }
    loop->post([&] { app->terminate(); });
    loop->runPending();
    return status;
}
