#include "QuibHost/Server/Neighbours/HostServerNeighbours.hpp"

#include "Platform/AtomicFile.hpp"
#include "Platform/EmptyWindowRoster.hpp"
#include "Platform/HeadlessDesktop.hpp"
#include "QuibHost/Apps/AppCatalog.hpp"
#include "QuibHost/Apps/MenuCatalog.hpp"
#include "QuibHost/Apps/Vocabulary.hpp"
#include "QuibHost/Approvals/ApprovalBroker.hpp"
#include "QuibHost/Approvals/PushSender.hpp"
#include "QuibHost/Reach/RemoteReach.hpp"
#include "QuibHost/Server/Neighbours/DisplaylessStillCapture.hpp"
#include "QuibHost/Server/Neighbours/IdleStreaming.hpp"
#include "QuibHost/Streaming/PanelStreamer.hpp"
#include "QuibHost/Targets/AttachmentReceiver.hpp"
#include "QuibHost/Targets/EventInjector.hpp"
#include "QuibHost/Targets/TargetRouter.hpp"
#include "QuibHost/Targets/TargetStore.hpp"

namespace quib {

HostServerNeighbours HostServerNeighbours::completed(const std::shared_ptr<Executor>& main,
                                                     const std::shared_ptr<Settings>& settings,
                                                     const std::shared_ptr<Clock>& clock,
                                                     const std::shared_ptr<DeviceRegistry>& registry,
                                                     const std::shared_ptr<Permissions>& permissions) const {
    HostServerNeighbours all = *this;
    std::shared_ptr<DeliveryLog> log;
    const auto deliveryLog = [&] {
        if (!log) log = std::make_shared<DeliveryLog>(DeliveryLog::Config{xdgDataHome(), clock, nullptr});
        return log;
    };
    if (!all.targets) all.targets = TargetStore::create({main, settings, clock, deliveryLog()});
    if (!all.injector) all.injector = EventInjector::create({.clock = clock, .settings = settings});
    if (!all.router) {
        all.router = std::make_shared<TargetRouter>(TargetRouter::Config{.injector = all.injector, .log = deliveryLog()});
    }
    if (!all.catalog) all.catalog = std::make_shared<AppCatalog>(AppCatalog::Config{clock});
    if (!all.vocabulary) {
        all.vocabulary = std::make_shared<Vocabulary>(Vocabulary::Config{.clock = clock, .injector = all.injector});
    }
    if (!all.menus) all.menus = std::make_shared<MenuCatalog>(MenuScanner::Config::onDesktop(HeadlessDesktop::services(), clock));
    if (!all.approvals) all.approvals = ApprovalBroker::create(main);
    if (!all.push) all.push = PushSender::create({settings, SecretStore(), nullptr, clock, main});
    if (!all.panelStreamer) {
        all.panelStreamer = PanelStreamer::onDesktop({.main = main, .targets = all.targets, .clock = clock, .settings = settings},
                                                     HeadlessDesktop::services(), std::make_shared<ScreenAccess>(permissions),
                                                     nullptr);
    }
    if (!all.audioStreamer || !all.windowList) {
        const auto idle = std::make_shared<IdleStreaming>();
        if (!all.audioStreamer) all.audioStreamer = idle;
        if (!all.windowList) all.windowList = idle;
    }
    if (!all.roster) all.roster = std::make_shared<EmptyWindowRoster>(permissions);
    if (!all.stills) all.stills = std::make_shared<DisplaylessStillCapture>(permissions);
    if (!all.reach) {
        all.reach = std::make_shared<RemoteReach>(
            RemoteReach::Config{main, settings, SecretStore(), [registry] { return registry->approvedIDs(); }});
    }
    if (!all.uploads) {
        all.uploads = std::make_shared<AttachmentReceiver>(
            std::make_shared<AttachmentInbox>(AttachmentInbox::Config{xdgDataHome(), clock, nullptr}));
    }
    return all;
}

}  // namespace quib
