#include "Runtime/InterfaceList.hpp"

namespace quib {

InterfaceList::InterfaceList(Lister list) : list_(list ? std::move(list) : [] { return InterfaceAddresses::list(); }) {}

// Read under the lock, so that a change reported meanwhile is never overwritten by what was
// read before it.
std::vector<InterfaceAddresses::Entry> InterfaceList::entries() {
    MutexLock lock(mutex_);
    if (!keep_) return list_();
    if (!kept_) kept_ = list_();
    return *kept_;
}

void InterfaceList::keepUntilChanged() {
    MutexLock lock(mutex_);
    keep_ = true;
    kept_.reset();
}

void InterfaceList::changed() {
    MutexLock lock(mutex_);
    kept_.reset();
}

}  // namespace quib
