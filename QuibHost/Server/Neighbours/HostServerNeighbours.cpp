#include "QuibHost/Server/Neighbours/HostServerNeighbours.hpp"

#include "QuibHost/Server/Neighbours/BufferingUploadService.hpp"
#include "QuibHost/Server/Neighbours/EmptyAppCatalog.hpp"
#include "QuibHost/Server/Neighbours/EmptyApprovalBroker.hpp"
#include "QuibHost/Server/Neighbours/EmptyTargetStore.hpp"
#include "QuibHost/Server/Neighbours/HeldButtonInjector.hpp"
#include "QuibHost/Server/Neighbours/IdlePushSender.hpp"
#include "QuibHost/Server/Neighbours/IdleStreaming.hpp"
#include "QuibHost/Server/Neighbours/SwitchOnlyRemoteReach.hpp"
#include "QuibHost/Server/Neighbours/UnavailableTargetRouter.hpp"

namespace quib {

HostServerNeighbours HostServerNeighbours::completed(const std::shared_ptr<Executor>& main,
                                                     const std::shared_ptr<Settings>& settings) const {
    HostServerNeighbours all = *this;
    if (!all.targets) all.targets = std::make_shared<EmptyTargetStore>(main);
    if (!all.injector) all.injector = std::make_shared<HeldButtonInjector>();
    if (!all.router) all.router = std::make_shared<UnavailableTargetRouter>();
    if (!all.catalog) all.catalog = std::make_shared<EmptyAppCatalog>();
    if (!all.approvals) all.approvals = std::make_shared<EmptyApprovalBroker>();
    if (!all.push) all.push = std::make_shared<IdlePushSender>(settings);
    if (!all.streaming) all.streaming = std::make_shared<IdleStreaming>();
    if (!all.reach) all.reach = std::make_shared<SwitchOnlyRemoteReach>(settings);
    if (!all.uploads) all.uploads = std::make_shared<BufferingUploadService>();
    return all;
}

}  // namespace quib
