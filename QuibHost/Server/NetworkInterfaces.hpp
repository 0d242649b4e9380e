#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <asio/ip/address.hpp>

#include "Runtime/InterfaceAddresses.hpp"
#include "Runtime/Mutex.hpp"

namespace quib {

// The network interfaces a connection runs over, for log lines. Reading the interfaces costs
// system calls for every one of them, so once the owner is told of every change (it watches
// them), the list is read once and kept until `changed`; until then it is read for each use.
class NetworkInterfaces {
public:
    using Lister = std::function<std::vector<InterfaceAddresses::Entry>()>;

    // `list` reads the interfaces; none: InterfaceAddresses::list.
    explicit NetworkInterfaces(Lister list = nullptr);

    // Any thread: each interface holding `localAddress`, as its name followed by its type in
    // parentheses ("loopback", "wifi", "wiredEthernet" or "other"), joined by ","; empty when
    // none matches.
    std::string describe(const asio::ip::address& localAddress);

    // Any thread: from now on every change is reported through `changed`, so the list is kept.
    void keepUntilChanged();
    // Any thread: the interfaces changed; the next use reads them again.
    void changed();

private:
    struct Known {
        asio::ip::address address;
        std::string label;  // "name(type)"
    };
    std::vector<Known> read() const;

    Lister list_;
    Mutex mutex_;
    bool keep_ GUARDED_BY(mutex_) = false;
    std::optional<std::vector<Known>> known_ GUARDED_BY(mutex_);  // as last read
};

}  // namespace quib
