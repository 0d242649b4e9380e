#include "QuibHost/Panel/TargetBinding.hpp"

#include "Runtime/Logger.hpp"

namespace quib {

TargetBinding::TargetBinding(std::shared_ptr<TargetStoreService> store, QuibTarget target)
    : store_(std::move(store)), copy_(std::move(target)) {}

QuibTarget TargetBinding::value() const { return store_->target(copy_.id).value_or(copy_); }

// An upsert of a target that is gone would append it again and undo its removal.
std::optional<std::string> TargetBinding::set(QuibTarget target) {
    target.id = copy_.id;
    if (!store_->target(copy_.id)) {
        if (!droppedLogged_) quibLog().info("settings: not saving an edit of ", pub(copy_.name), ", which was removed");
        droppedLogged_ = true;
        return "That target no longer exists";
    }
    auto refusal = store_->upsert(std::move(target));
    if (refusal) quibLog().error("settings: not saving an edit of ", pub(copy_.name), ": ", pub(*refusal));
    return refusal;
}

}  // namespace quib
