#include "QuibHost/Server/WaitingRequests.hpp"

namespace quib {

bool WaitingRequests::join(const std::string& target) {
    MutexLock guard(mutex_);
    return waiting_.insert(target).second;
}

void WaitingRequests::start(const std::string& target) {
    MutexLock guard(mutex_);
    waiting_.erase(target);
}

}  // namespace quib
