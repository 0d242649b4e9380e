// quib-host: the host process, until SIGINT or SIGTERM. On an X display it shows the panel
// (in the tray, or in a window) and runs on Qt's event loop; without one it runs headless on its
// own main loop and creates no Qt object. quibctl drives it either way.

#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Headless/HeadlessDesktop.hpp"
#include "Platform/Headless/HeadlessPermissions.hpp"
#include "Platform/Linux/Atspi/AtspiConnection.hpp"
#include "Platform/Linux/Atspi/AtspiDocuments.hpp"
#include "Platform/Linux/Atspi/AtspiMenuReader.hpp"
#include "Platform/Linux/AvahiServiceAdvertiser.hpp"
#include "Platform/Linux/CurlPoster.hpp"
#include "Platform/Linux/FileManagerRevealer.hpp"
#include "Platform/Linux/GnomeFavourites.hpp"
#include "Platform/Linux/GnomeUsage.hpp"
#include "Platform/Linux/JournalLogSink.hpp"
#include "Platform/Linux/LogindSleepWatch.hpp"
#include "Platform/Linux/Media/FfmpegAacConverterFactory.hpp"
#include "Platform/Linux/Media/FfmpegPngEncoder.hpp"
#include "Platform/Linux/Media/FfmpegVideoSessionFactory.hpp"
#include "Platform/Linux/Media/PulseAudioCapture.hpp"
#include "Platform/Linux/NetlinkInterfaceWatch.hpp"
#include "Platform/Linux/PixbufIconRenderer.hpp"
#include "Platform/Linux/PixbufJpegEncoder.hpp"
#include "Platform/Linux/X11/X11Desktop.hpp"
#include "QuibHost/App/ControlSocket.hpp"
#include "QuibHost/App/QuibHostApp.hpp"
#include "QuibHost/App/SessionCaveat.hpp"
#include "QuibHost/App/SignalWatcher.hpp"
#include "QuibHost/Interface/QtInterface.hpp"
#include "QuibHost/Panel/LoginItem.hpp"
#include "QuibHost/Reach/PortMapper.hpp"
#include "QuibHost/Reach/StunDiscovery.hpp"
#include "QuibHost/Reach/UPnPGateway.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/MainLoop.hpp"
#include "Runtime/Settings.hpp"

namespace {

constexpr const char* usage =
    "usage: quib-host [--enable-login-item]\n"
    "Runs the Quib host in the foreground until Ctrl-C: phones pair with its code and drive this\n"
    "computer. quibctl controls it while it runs (quibctl status).\n"
    "  --enable-login-item  also start the host at every login\n"
    "  --help               print this and exit\n"
    "Settings: $XDG_CONFIG_HOME/Quib/defaults.json\n";

// Exit status 0 after --help, 2 after an argument it does not know (with the usage on standard
// error), none when the host is to run.
std::optional<int> refuseOrHelp(const std::vector<std::string>& arguments) {
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            std::cout << usage;
            return 0;
        }
        if (argument != quib::QuibHostApp::enableLoginItemArgument) {
            std::cerr << "quib-host: unknown argument " << argument << "\n" << usage;
            return 2;
        }
    }
    return std::nullopt;
}

// A second host of the same user would share the first one's settings, port and tray: it is
// refused before it touches any of them. Status 1 when a host answers on a control socket of
// this user.
std::optional<int> refuseSecondHost() {
    for (const auto& path : quib::ControlSocket::candidatePaths()) {
        const auto pid = quib::ControlSocket::answeringHost(path);
        if (!pid) continue;
        std::cerr << "quib-host: another Quib host is already running (pid " << *pid << ", control socket "
                  << path.string() << "); `quibctl status` shows it. Quit it first (quibctl quit) to start this one."
                  << std::endl;
        return 1;
    }
    return std::nullopt;
}

// Prints what a person needs to pair a phone, on standard output only: the pairing code never
// goes to the log.
void printPairing(const quib::QuibHostApp::Launched& launched) {
    std::cout << "Pairing code: " << launched.pairingCode << "\n";
    if (launched.port) std::cout << "Port: " << *launched.port << "\n";
    std::cout << "Name: " << launched.name << "\n";
    std::cout << "Pair a phone with this code, then approve it: quibctl approve DEVICE-ID (quibctl devices lists them)"
              << std::endl;
}

// Headless, the host's only way to tell that it cannot listen is to say so and end the main loop.
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
    printPairing(launched);
}

// On a display, other apps' menus and documents are read over AT-SPI, which starts at the first
// read.
std::shared_ptr<quib::AtspiConnection> readOtherApps(quib::X11Desktop::Opened& desktop,
                                                     const quib::AtspiConnection::Environment& environment) {
    auto atspi = std::make_shared<quib::AtspiConnection>(environment);
    desktop.services.menus = std::make_shared<quib::AtspiMenuReader>(atspi, desktop.permissions);
    desktop.services.documents = std::make_shared<quib::AtspiDocuments>(atspi);
    return atspi;
}

struct ChosenDesktop {
    quib::X11Desktop::Opened desktop;
    bool onDisplay = false;
    std::shared_ptr<quib::AtspiConnection> atspi = nullptr;  // none without a display
};

// The X display named by DISPLAY when it opens and has XTEST; otherwise a desktop without a
// display, where only tmux deliveries work.
ChosenDesktop chooseDesktop(const std::shared_ptr<quib::Clock>& clock,
                            const quib::AtspiConnection::Environment& atspiEnvironment) {
    if (auto x11 = quib::X11Desktop::open({}, std::make_shared<quib::DesktopEntries>(), clock)) {
        auto atspi = readOtherApps(*x11, atspiEnvironment);
        return {std::move(*x11), true, std::move(atspi)};
    }
    quib::quibLog().warning("desktop: no X display with XTEST; running headless");
    return {{quib::HeadlessDesktop::services(), std::make_shared<quib::HeadlessPermissions>()}, false};
}

// Without DBUS_SESSION_BUS_ADDRESS, libdbus looks for the user's bus at $XDG_RUNTIME_DIR/bus and,
// when that is missing too, forks a helper to start a bus ("autolaunch") from whichever thread
// asks first: the toolkit's tray lookup then waited forever on a child that hung between fork and
// exec. Naming that usual socket makes a missing bus fail at once, and changes nothing where it
// exists. Called before any other thread exists, since it sets the environment. (The AT-SPI
// reader looks for the bus itself, in the environment as it was, and says when there is none.)
void keepDbusFromAutolaunching() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if ((address && *address) || !runtime || !*runtime) return;
    const std::string bus = "unix:path=" + (std::filesystem::path(runtime) / "bus").string();
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
}

// Tests of other areas run the host on a display without its panel.
bool headlessForTests() {
    const char* value = std::getenv("QUIB_TEST_HEADLESS");
    return value && std::string_view(value) == "1";
}

// Ends, on a signal, when the main loop has run what is queued; then the held buttons are let
// go and the server is stopped, on the main loop.
int runHeadless(quib::QuibHostApp& app, quib::MainLoop& loop) {
    int status = 0;
    loop.post([&] { announce(app.launch(), app, loop, status); });
    {
        quib::SignalWatcher watcher({SIGINT, SIGTERM}, [&loop](int) { loop.quit(); });
        loop.run();
    }
    loop.post([&] { app.terminate(); });
    loop.runPending();
    return status;
}

// With the panel, a listener that cannot be made leaves the host running: the panel says so.
// After a signal ends Qt's loop, nothing posted to the main executor runs any more, so the
// shut-down is called directly; then the executor closes, and the widgets and the application
// go.
int runWithPanel(quib::QuibHostApp& app, quib::QtInterface& qt) {
    qt.showPanel(app.panel(), app.actions());
    app.setPanelShower([&qt] { qt.bringUpPanel(); });
    app.settings()->setOpener(
        [&qt, &app](const std::optional<std::string>& select) { qt.showSettings(app.settings(), select); });
    qt.executor()->post([&app] { printPairing(app.launch()); });
    {
        quib::SignalWatcher watcher({SIGINT, SIGTERM}, [&qt](int) { qt.quit(); });
        qt.exec();
    }
    app.terminate();
    qt.close();
    return 0;
}

// Every phone, tool and outgoing request holds a descriptor; the usual soft limit of 1024 is
// far below what the system allows the host, so it takes all it may.
void raiseDescriptorLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    const rlim_t before = limit.rlim_cur;
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        quib::quibLog().error("could not raise the descriptor limit above ", static_cast<std::uint64_t>(before));
}

}  // namespace

int main(int argc, char** argv) {
    using namespace quib;
    const std::vector<std::string> arguments(argv, argv + argc);
    if (const auto status = refuseOrHelp(arguments)) return *status;
    if (const auto status = refuseSecondHost()) return *status;
    // Before any thread exists, so that only the watcher ever takes these signals.
    SignalWatcher::block({SIGINT, SIGTERM});
    const auto atspiEnvironment = AtspiConnection::Environment::ofProcess();
    keepDbusFromAutolaunching();
    // A peer or tool that goes away mid-write makes that write fail instead of ending the host.
    ::signal(SIGPIPE, SIG_IGN);
    raiseDescriptorLimit();
    // A hand edit that broke the settings file stops the host before it touches anything: starting
    // afresh would cost the user their pairing and their approved phones.
    auto opened = Settings::open(Settings::defaultPath());
    if (!opened) {
        std::cerr << opened.error().message << std::endl;
        return 1;
    }
    auto settings = std::move(*opened);
    // Run by the service manager or from a launcher, the lines go to the journal; on a terminal
    // they stay there.
    if (JournalLogSink::shouldTakeOver())
        Logger::setSink(std::make_shared<JournalLogSink>(settings->get(JournalLogSink::showPrivateKey)));
    // First, so that libcurl's process-wide set-up runs before other threads exist.
    auto poster = std::make_shared<CurlPoster>();

    auto clock = SystemClock::shared();
    // The desktop first: opening the display readies Xlib for threads before Qt touches it.
    auto [desktop, onDisplay, atspi] = chooseDesktop(clock, atspiEnvironment);
    std::unique_ptr<QtInterface> qt;
    std::shared_ptr<MainLoop> loop;
    if (onDisplay && !headlessForTests()) qt = QtInterface::start(argv[0]);
    else loop = std::make_shared<MainLoop>(clock);
    if (!qt) quibLog().info("interface: none");
    // The home router, asked through the default route; its UPnP side through the same poster as
    // the push relay.
    const ReachTimings timings;
    auto portMapper = std::make_shared<PortMapper>(PortMapper::Config{
        .timings = timings,
        .upnp = std::make_shared<UPnPGateway>(UPnPGateway::Config{.poster = poster, .timings = timings, .search = {}}),
        .findGateway = nullptr});
    auto app = QuibHostApp::create({.main = qt ? qt->executor() : std::shared_ptr<Executor>(loop),
                                    .clock = clock,
                                    .settings = settings,
                                    .permissions = desktop.permissions,
                                    .advertiser = std::make_shared<AvahiServiceAdvertiser>(),
                                    .loginItem = LoginItem::forThisProgram(),
                                    .arguments = arguments,
                                    .revealer = std::make_shared<FileManagerRevealer>(),
                                    .desktop = desktop.services,
                                    .sleep = std::make_shared<LogindSleepWatch>(),
                                    .interfaces = std::make_shared<NetlinkInterfaceWatch>(),
                                    .appUsage = std::make_shared<GnomeUsage>(),
                                    .dockedApps = std::make_shared<GnomeFavourites>(),
                                    .poster = std::move(poster),
                                    .portMapper = std::move(portMapper),
                                    .discovery = std::make_shared<StunDiscovery>(settings, timings),
                                    .awayInterfaces = std::make_shared<NetlinkInterfaceWatch>(),
                                    .iconRenderer = std::make_shared<PixbufIconRenderer>(),
                                    .audioCapture = std::make_shared<PulseAudioCapture>(),
                                    .aacConverters = std::make_shared<FfmpegAacConverterFactory>(),
                                    .videoSessions = std::make_shared<FfmpegVideoSessionFactory>(),
                                    .pngEncoder = std::make_shared<FfmpegPngEncoder>(),
                                    .jpegEncoder = std::make_shared<PixbufJpegEncoder>(),
                                    .quit = [qt = qt.get(), loop = loop.get()] { qt ? qt->quit() : loop->quit(); },
                                    .sessionCaveat = SessionCaveat::of()});
    const int status = qt ? runWithPanel(*app, *qt) : runHeadless(*app, *loop);
    // A flag the host switched on would stay on in every later session.
    if (atspi) atspi->switchBackOff();
    return status;
}
