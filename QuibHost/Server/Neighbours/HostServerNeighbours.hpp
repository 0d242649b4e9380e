#pragma once

#include <memory>

#include "Platform/Clock.hpp"
#include "Platform/Executor.hpp"
#include "Platform/Permissions.hpp"
#include "Platform/Settings.hpp"
#include "Platform/WindowRoster.hpp"
#include "QuibHost/Apps/AppCatalogService.hpp"
#include "QuibHost/Apps/MenuCatalogService.hpp"
#include "QuibHost/Approvals/ApprovalBrokerService.hpp"
#include "QuibHost/Approvals/PushSenderService.hpp"
#include "QuibHost/Reach/RemoteReachService.hpp"
#include "QuibHost/Server/DeviceRegistry.hpp"
#include "QuibHost/Server/Neighbours/AudioStreamerService.hpp"
#include "QuibHost/Streaming/PanelStreamerService.hpp"
#include "QuibHost/Server/Neighbours/StillCaptureService.hpp"
#include "QuibHost/Server/Neighbours/WindowListService.hpp"
#include "QuibHost/Apps/VocabularyService.hpp"
#include "QuibHost/Targets/EventInjectorService.hpp"
#include "QuibHost/Targets/TargetRouterService.hpp"
#include "QuibHost/Targets/TargetStoreService.hpp"
#include "QuibHost/Targets/UploadService.hpp"

namespace quib {

// The services of other subsystems that the connection server calls. Leave one empty and the
// server makes its own: a target store over the server's settings, an injector on a headless
// desktop, where input goes nowhere, a router through that injector into tmux panes (apps on
// the headless desktop neither run nor launch), an app catalog of the desktop's application
// folders, where no app runs, none was used and none is docked, a menu catalog of the headless
// desktop, whose apps' menus cannot be read, a project vocabulary that finds the terms of tmux
// panes (headless apps show no documents), an approval broker on the main executor, remote
// reach keeping away keys in the default secret store, a push sender with no way to post (its
// phones are routed, never pushed, and no relay counts as set), a still capture that checks the
// screen permission and finds no display, a window roster that finds no window (refusing first
// for want of the host's trust), a panel streamer of the headless desktop, which encodes no
// video, and for the audio streamer and the window list a stand-in that does the least it can.
// Uploads go into the attachment inbox under $XDG_DATA_HOME, deliveries are logged beside it.
struct HostServerNeighbours {
    std::shared_ptr<TargetStoreService> targets;
    std::shared_ptr<EventInjectorService> injector;
    std::shared_ptr<TargetRouterService> router;
    std::shared_ptr<AppCatalogService> catalog;
    std::shared_ptr<VocabularyService> vocabulary;
    std::shared_ptr<MenuCatalogService> menus;
    std::shared_ptr<ApprovalBrokerService> approvals;
    std::shared_ptr<PushSenderService> push;
    std::shared_ptr<PanelStreamerService> panelStreamer;
    std::shared_ptr<AudioStreamerService> audioStreamer;
    std::shared_ptr<WindowListService> windowList;
    // Raises and opens the windows phones pin targets to.
    std::shared_ptr<WindowRoster> roster;
    std::shared_ptr<StillCaptureService> stills;
    std::shared_ptr<RemoteReachService> reach;
    std::shared_ptr<UploadService> uploads;

    // These neighbours, with a stand-in for each one left empty.
    HostServerNeighbours completed(const std::shared_ptr<Executor>& main, const std::shared_ptr<Settings>& settings,
                                   const std::shared_ptr<Clock>& clock, const std::shared_ptr<DeviceRegistry>& registry,
                                   const std::shared_ptr<Permissions>& permissions) const;
};

}  // namespace quib
