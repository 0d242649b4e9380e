// quib-host: the host process. It runs on its own main loop, without a desktop toolkit, until
// SIGINT or SIGTERM; the control socket and quibctl stand in for the menu-bar panel.

#include <signal.h>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Headless/HeadlessDesktop.hpp"
#include "Platform/Headless/HeadlessPermissions.hpp"
#include "Platform/Linux/Atspi/AtspiConnection.hpp"
#include "Platform/Linux/Atspi/AtspiDocuments.hpp"
#include "Platform/Linux/Atspi/AtspiMenuReader.hpp"
#include "Platform/Linux/AvahiServiceAdvertiser.hpp"
#include "Platform/Linux/CurlPoster.hpp"
#include "Platform/Linux/GnomeFavourites.hpp"
#include "Platform/Linux/GnomeUsage.hpp"
#include "Platform/Linux/LogindSleepWatch.hpp"
#include "Platform/Linux/NetlinkInterfaceWatch.hpp"
#include "Platform/Linux/PixbufIconRenderer.hpp"
#include "Platform/Linux/X11/X11Desktop.hpp"
#include "Platform/Linux/XdgOpenRevealer.hpp"
#include "QuibHost/App/LoginItem.hpp"
#include "QuibHost/App/QuibHostApp.hpp"
#include "QuibHost/App/SignalWatcher.hpp"
#include "QuibHost/Reach/PortMapper.hpp"
#include "QuibHost/Reach/StunDiscovery.hpp"
#include "QuibHost/Reach/UPnPGateway.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
#include "Runtime/Settings.hpp"

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

// On a display, other apps' menus and documents are read over AT-SPI, which starts at the first
// read.
void readOtherApps(quib::X11Desktop::Opened& desktop) {
    auto atspi = std::make_shared<quib::AtspiConnection>();
    desktop.services.menus = std::make_shared<quib::AtspiMenuReader>(atspi, desktop.permissions);
    desktop.services.documents = std::make_shared<quib::AtspiDocuments>(atspi);
}

// The X display named by DISPLAY when it opens and has XTEST; otherwise a desktop without a
// display, where only tmux deliveries work.
quib::X11Desktop::Opened chooseDesktop(const std::shared_ptr<quib::Clock>& clock) {
    if (auto x11 = quib::X11Desktop::open({}, std::make_shared<quib::DesktopEntries>(), clock)) {
        readOtherApps(*x11);
        return std::move(*x11);
    }
    quib::quibLog().info("desktop: no X display with XTEST; running headless");
    return {quib::HeadlessDesktop::services(), std::make_shared<quib::HeadlessPermissions>()};
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quib;
    // Before any thread exists, so that only the watcher ever takes these signals.
    SignalWatcher::block({SIGINT, SIGTERM});
    // A peer or tool that goes away mid-write makes that write fail instead of ending the host.
    ::signal(SIGPIPE, SIG_IGN);
    // First, so that libcurl's process-wide set-up runs before other threads exist.
    auto poster = std::make_shared<CurlPoster>();

    auto clock = SystemClock::shared();
    auto loop = std::make_shared<MainLoop>(clock);
    auto desktop = chooseDesktop(clock);
    auto settings = Settings::atPath(Settings::defaultPath());
    // The home router, asked through the default route; its UPnP side through the same poster as
    // the push relay.
    const ReachTimings timings;
    auto portMapper = std::make_shared<PortMapper>(PortMapper::Config{
        .timings = timings,
        .upnp = std::make_shared<UPnPGateway>(UPnPGateway::Config{.poster = poster, .timings = timings, .search = {}}),
        .findGateway = nullptr});
    auto app = QuibHostApp::create({.main = loop,
                                    .clock = clock,
                                    .settings = settings,
                                    .permissions = desktop.permissions,
                                    .advertiser = std::make_shared<AvahiServiceAdvertiser>(),
                                    .loginItem = LoginItem::forThisProgram(),
                                    .arguments = std::vector<std::string>(argv, argv + argc),
                                    .revealer = std::make_shared<XdgOpenRevealer>(),
                                    .desktop = desktop.services,
                                    .sleep = std::make_shared<LogindSleepWatch>(),
                                    .interfaces = std::make_shared<NetlinkInterfaceWatch>(),
                                    .appUsage = std::make_shared<GnomeUsage>(),
                                    .dockedApps = std::make_shared<GnomeFavourites>(),
                                    .poster = poster,
                                    .portMapper = std::move(portMapper),
                                    .discovery = std::make_shared<StunDiscovery>(settings, timings),
                                    .awayInterfaces = std::make_shared<NetlinkInterfaceWatch>(),
                                    .iconRenderer = std::make_shared<PixbufIconRenderer>()});

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
