#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "Runtime/InterfaceAddresses.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {

// The computer's interface addresses, shared by whoever needs them. Listing them costs a few
// sockets and a netlink exchange, so once the owner is told of every change (a watch reports
// them), the list is read once and kept until `changed`; until then it is read for each use.
// Safe on any thread.
class InterfaceList {
public:
    using Lister = std::function<std::vector<InterfaceAddresses::Entry>()>;

    // `list` reads the interfaces; none: InterfaceAddresses::list.
    explicit InterfaceList(Lister list = nullptr);

    // Every entry, as last read while the list is kept, or read now.
    std::vector<InterfaceAddresses::Entry> entries();

    // From now on every change is reported through `changed`, so the list is kept.
    void keepUntilChanged();
    // The interfaces changed: the next use reads them again.
    void changed();

private:
    Lister list_;
    Mutex mutex_;
    bool keep_ GUARDED_BY(mutex_) = false;
    std::optional<std::vector<InterfaceAddresses::Entry>> kept_ GUARDED_BY(mutex_);
};

}  // namespace quib
