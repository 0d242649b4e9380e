#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Shared/QuibProtocol.hpp"

namespace quib {

// The key/value entries of a service's TXT record, in the order they are published.
using TxtRecord = std::vector<std::pair<std::string, std::string>>;

// Announces the host on the local network as a service of type QuibProtocol::bonjourType
// ("_quib._tcp") in the default domain, so phones can find it without typing an address.
// Implementations are safe to call from any thread; the server calls them from its network queue.
class ServiceAdvertiser {
public:
    virtual ~ServiceAdvertiser() = default;

    // Publishes the service under `name` on `port` with `txt`, replacing any advertisement
    // this advertiser published before. Failures are logged by the backend, never thrown:
    // the host keeps serving phones that know its address.
    virtual void advertise(const std::string& name, std::uint16_t port, const TxtRecord& txt) = 0;

    // Takes the advertisement down; harmless when nothing is advertised.
    virtual void withdraw() = 0;

    // The host's TXT record: protocol version, oldest client version served, and the host's name.
    static TxtRecord quibTxtRecord(std::string_view hostDisplayName) {
        return {
            {std::string(QuibProtocol::txtVersionKey), std::to_string(QuibProtocol::version)},
            {std::string(QuibProtocol::txtMinVersionKey), std::to_string(QuibProtocol::minimumSupportedVersion)},
            {std::string(QuibProtocol::txtHostKey), std::string(hostDisplayName)},
        };
    }
};

}  // namespace quib
