#include "QuibHost/Server/WaitingRequest.hpp"

#include <utility>

namespace quib {

bool WaitingRequest::join(bool refresh) {
    MutexLock guard(mutex_);
    refresh_ = refresh_ || refresh;
    return !std::exchange(waiting_, true);
}

bool WaitingRequest::start() {
    MutexLock guard(mutex_);
    waiting_ = false;
    return std::exchange(refresh_, false);
}

}  // namespace quib
