#pragma once

#include <memory>

#include "Platform/WindowRoster.hpp"
#include "QuibHost/Approvals/ApprovalBrokerService.hpp"
#include "QuibHost/Approvals/PushSenderService.hpp"
#include "QuibHost/Apps/AppCatalogService.hpp"
#include "QuibHost/Apps/MenuCatalogService.hpp"
#include "QuibHost/Apps/VocabularyService.hpp"
#include "QuibHost/Reach/RemoteReachService.hpp"
#include "QuibHost/Streaming/AudioStreamerService.hpp"
#include "QuibHost/Streaming/PanelStreamerService.hpp"
#include "QuibHost/Streaming/StillCaptureService.hpp"
#include "QuibHost/Streaming/WindowListService.hpp"
#include "QuibHost/Targets/EventInjectorService.hpp"
#include "QuibHost/Targets/TargetRouterService.hpp"
#include "QuibHost/Targets/TargetStoreService.hpp"
#include "QuibHost/Targets/UploadService.hpp"

namespace quib {

// The services of other subsystems that the connection server calls. Whoever makes the server
// (the application, or a test) makes every one of them: the server stops the process, naming
// the one missing, rather than run without it.
struct HostServerNeighbours {
    std::shared_ptr<TargetStoreService> targets = nullptr;
    std::shared_ptr<EventInjectorService> injector = nullptr;
    std::shared_ptr<TargetRouterService> router = nullptr;
    std::shared_ptr<AppCatalogService> catalog = nullptr;
    std::shared_ptr<VocabularyService> vocabulary = nullptr;
    std::shared_ptr<MenuCatalogService> menus = nullptr;
    std::shared_ptr<ApprovalBrokerService> approvals = nullptr;
    std::shared_ptr<PushSenderService> push = nullptr;
    std::shared_ptr<PanelStreamerService> panelStreamer = nullptr;
    std::shared_ptr<AudioStreamerService> audioStreamer = nullptr;
    std::shared_ptr<WindowListService> windowList = nullptr;
    // Raises and opens the windows phones pin targets to.
    std::shared_ptr<WindowRoster> roster = nullptr;
    std::shared_ptr<StillCaptureService> stills = nullptr;
    std::shared_ptr<RemoteReachService> reach = nullptr;
    std::shared_ptr<UploadService> uploads = nullptr;
};

}  // namespace quib
