#include "QuibHost/Server/ServerQueues.hpp"

#include "QuibHost/Apps/MenuCatalogService.hpp"
#include "QuibHost/Targets/TargetRouterService.hpp"

namespace quib {

ServerQueues::ServerQueues(const std::shared_ptr<Clock>& clock)
    : injection_(std::make_unique<SerialQueue>(std::string(TargetRouterService::queueLabel), clock)),
      menu_(std::make_unique<SerialQueue>(std::string(MenuCatalogService::queueLabel), clock)),
      catalog_(std::make_unique<SerialQueue>("com.brenmoor.quib.host.apps", clock)),
      advertise_(std::make_unique<SerialQueue>("com.brenmoor.quib.host.advertise", clock)) {}

void ServerQueues::finishWork() {
    catalog_.reset();
    menu_.reset();
    injection_.reset();
}

}  // namespace quib
