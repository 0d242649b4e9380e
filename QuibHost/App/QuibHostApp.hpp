#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/AacConverterFactory.hpp"
#include "Platform/AudioCapture.hpp"
#include "Platform/DesktopServices.hpp"
#include "Platform/FileRevealer.hpp"
#include "Platform/HttpPoster.hpp"
#include "Platform/JpegEncoder.hpp"
#include "Platform/Permissions.hpp"
#include "Platform/PngEncoder.hpp"
#include "Platform/ServiceAdvertiser.hpp"
#include "Platform/VideoSessionFactory.hpp"
#include "QuibHost/App/ControlCommands.hpp"
#include "QuibHost/App/ControlSocket.hpp"
#include "QuibHost/Approvals/PushSender.hpp"
#include "QuibHost/Apps/AppCatalog.hpp"
#include "QuibHost/Panel/HostState.hpp"
#include "QuibHost/Panel/LoginItem.hpp"
#include "QuibHost/Panel/MenuActions.hpp"
#include "QuibHost/Panel/MenuViewModelSource.hpp"
#include "QuibHost/Panel/SettingsActions.hpp"
#include "QuibHost/Panel/TargetEditorActions.hpp"
#include "QuibHost/Reach/PortMapperService.hpp"
#include "QuibHost/Reach/PublicAddressDiscovery.hpp"
#include "QuibHost/Reach/RemoteReach.hpp"
#include "QuibHost/Server/DeviceRegistry.hpp"
#include "QuibHost/Server/HostServer.hpp"
#include "QuibHost/Streaming/AudioStreamer.hpp"
#include "QuibHost/Streaming/PanelStreamer.hpp"
#include "QuibHost/Streaming/ScreenAccess.hpp"
#include "QuibHost/Targets/AttachmentInbox.hpp"
#include "QuibHost/Targets/DeliveryLog.hpp"
#include "QuibHost/Targets/EventInjector.hpp"
#include "QuibHost/Targets/TargetRouter.hpp"
#include "QuibHost/Targets/TargetStore.hpp"
#include "Runtime/Clock.hpp"
#include "Runtime/Executor.hpp"
#include "Runtime/InterfaceList.hpp"
#include "Runtime/Result.hpp"
#include "Runtime/Settings.hpp"

namespace quib {

// The host application: the connection server, the target store, the app catalog, the menu
// catalog, the host state, the event injector and the panel streamer, each made once, their
// start-up in order after launch, and their shut-down; and the panel's model and actions, which
// the desktop panel draws and calls when there is one, and the control socket serves either way.
class QuibHostApp {
    // Only the class's own factories can make this key, so construction goes through them.
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    // The one command-line argument the host understands; anything else is ignored.
    static constexpr std::string_view enableLoginItemArgument = "--enable-login-item";

    struct Config {
        // The main loop, or the toolkit's.
        std::shared_ptr<Executor> main;
        std::shared_ptr<Clock> clock;  // the main executor's clock
        std::shared_ptr<Settings> settings;
        std::shared_ptr<Permissions> permissions;
        std::shared_ptr<ServiceAdvertiser> advertiser;
        LoginItem loginItem;
        // The approval broker, the remote reach, the streaming and the still capture; empty ones
        // are the application's own (see makeNeighbours), as every other neighbour always is.
        HostServerNeighbours neighbours = {};
        std::vector<std::string> arguments;  // the process's, program name first
        // Where the control socket listens; none: ControlSocket::defaultPath().
        std::optional<std::filesystem::path> controlSocketPath = std::nullopt;
        std::string listenAddress = "::";
        // Shows the delivery log and the attachment inbox to the user; none: they are only made.
        std::shared_ptr<FileRevealer> revealer = nullptr;
        // The folder that holds the host's data folder; none: $XDG_DATA_HOME.
        std::optional<std::filesystem::path> dataHome = std::nullopt;
        // The desktop the host drives; missing services are headless.
        DesktopServices desktop = {};
        // Sleep, wake and network changes; none: they go unnoticed.
        std::shared_ptr<SleepWatch> sleep = nullptr;
        std::shared_ptr<InterfaceWatch> interfaces = nullptr;
        // How much apps were used and which are docked, for the app catalog; none: no use,
        // nothing docked.
        std::shared_ptr<AppUsage> appUsage = nullptr;
        std::shared_ptr<DockedApps> dockedApps = nullptr;
        // Posts pushes to the relay; none: nothing is pushed and no relay counts as set.
        std::shared_ptr<HttpPoster> poster = nullptr;
        // The router and the public address for away access; none: nothing is mapped and nobody
        // is asked.
        std::shared_ptr<PortMapperService> portMapper = nullptr;
        std::shared_ptr<PublicAddressDiscovery> discovery = nullptr;
        // Watches the network path for away access; none: the path is read once, never watched.
        std::shared_ptr<InterfaceWatch> awayInterfaces = nullptr;
        // Draws the apps' icons, found in the desktop's icon themes; none: apps have no icons.
        std::shared_ptr<IconRenderer> iconRenderer = nullptr;
        // The computer's sound output and the AAC encoders that listen channels are served
        // with; without both, listen channels are accepted and stay silent.
        std::shared_ptr<AudioCapture> audioCapture = nullptr;
        std::shared_ptr<AacConverterFactory> aacConverters = nullptr;
        // Compresses the video of mirrored windows; none: no window is sent as video.
        std::shared_ptr<VideoSessionFactory> videoSessions = nullptr;
        // Writes still screenshots; none: every screenshot fails to encode.
        std::shared_ptr<PngEncoder> pngEncoder = nullptr;
        // Writes the pictures of listed windows; none: windows are listed without pictures.
        std::shared_ptr<JpegEncoder> jpegEncoder = nullptr;
        // Asks the main loop (or the toolkit's) to end, as a signal does: the panel's Quit and
        // `quibctl quit`. None: they do nothing.
        std::function<void()> quit = nullptr;
        // Brings up the settings window; none: the settings window's own opener (nothing is
        // shown without a display).
        std::function<void()> openSettings = nullptr;
        // What the user must know of the desktop session the host drives (a Wayland session);
        // warned of at launch and shown by the control socket's status.
        std::optional<std::string> sessionCaveat = std::nullopt;
    };

    // What a person needs to pair a phone. No port when the listener could not be made; the
    // reason is then published as the server's last error (on the main loop, after this task).
    struct Launched {
        std::string pairingCode;
        std::optional<std::uint16_t> port;
        std::string name;
    };

    // Makes the shared objects (reading the stored pairing code), before the main loop runs.
    static std::unique_ptr<QuibHostApp> create(Config config);
    QuibHostApp(Passkey, Config config);
    ~QuibHostApp();
    QuibHostApp(const QuibHostApp&) = delete;
    QuibHostApp& operator=(const QuibHostApp&) = delete;

    // A task of the main executor: the start-up sequence.
    Launched launch();
    // On the main executor's thread: lets go of held mouse buttons and stops the server. It
    // waits for no task of the main executor, so it may also run once the toolkit's loop has
    // ended.
    void terminate();
    // Main executor: how `quibctl show panel` brings the panel up; none: there is no display.
    void setPanelShower(std::function<void()> show);

    HostServer& server() { return *server_; }
    TargetStore& store() { return *store_; }
    AppCatalog& catalog() { return *catalog_; }
    DeliveryLog& deliveryLog() { return *deliveryLog_; }
    AttachmentInbox& inbox() { return *inbox_; }
    HostState& state() { return *state_; }
    DeviceRegistry& registry() { return *registry_; }
    PushSender& push() { return *push_; }
    // None without a sound output to serve.
    AudioStreamer* audioStreamer() { return audioStreamer_.get(); }
    PanelStreamer& panelStreamer() { return *panelStreamer_; }
    const std::shared_ptr<MenuViewModelSource>& panel() const { return panel_; }
    const std::shared_ptr<MenuActions>& actions() const { return actions_; }
    // The settings window's actions; its opener is set where there is a display.
    const std::shared_ptr<SettingsActions>& settings() const { return settings_; }
    // What a target editor is made with, but its binding and its app chooser.
    const TargetEditorActions::Config& editing() const { return editing_; }
    // The control socket, while it is open.
    const ControlSocket* controlSocket() const { return controlSocket_.get(); }

private:
    HostState::Links stateLinks();
    std::function<void()> openSettings();
    void makeTargets(const std::shared_ptr<DesktopEntries>& apps);
    HostServerNeighbours makeNeighbours(const std::shared_ptr<DesktopEntries>& apps);
    std::shared_ptr<TargetRouter> makeRouter();
    SecretStore secretStore() const;
    std::shared_ptr<RemoteReach> makeRemoteReach() const;
    void startRemoteReach();
    void makeStreamers();
    void logLaunch() const;
    void enableLoginItemWhenAsked();
    void openControlSocket();

    Config config_;
    // The interface addresses the server's watch keeps current, which remote reach reads too.
    std::shared_ptr<InterfaceList> interfaceList_ = std::make_shared<InterfaceList>();
    std::shared_ptr<DeliveryLog> deliveryLog_;
    std::shared_ptr<AttachmentInbox> inbox_;
    std::shared_ptr<AppCatalog> catalog_;
    std::shared_ptr<TargetStore> store_;
    std::shared_ptr<EventInjector> injector_;
    // The one kept tmux client: text into panes and the pane mirror's polls go through it.
    std::shared_ptr<TmuxControl> tmuxControl_ = std::make_shared<TmuxControl>();
    std::shared_ptr<DeviceRegistry> registry_;
    std::shared_ptr<PushSender> push_;
    // The one right to capture the screen, asked for at most once per run.
    std::shared_ptr<ScreenAccess> screenAccess_;
    std::shared_ptr<PanelStreamer> panelStreamer_;
    std::shared_ptr<AudioStreamer> audioStreamer_;
    std::shared_ptr<HostServer> server_;
    std::shared_ptr<HostState> state_;
    std::shared_ptr<MenuActions> actions_;
    std::shared_ptr<MenuViewModelSource> panel_;
    std::shared_ptr<SettingsActions> settings_;
    // What a target editor is made with, but its binding and its app chooser.
    TargetEditorActions::Config editing_;
    std::shared_ptr<ControlCommands> commands_;
    std::unique_ptr<ControlSocket> controlSocket_;
};

}  // namespace quib
