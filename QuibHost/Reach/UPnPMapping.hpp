#pragma once

#include <cstdint>
#include <optional>

#include "QuibHost/Reach/PortMapper.hpp"
#include "QuibHost/Reach/UDPExchange.hpp"
#include "Runtime/CancelToken.hpp"

namespace quib {

// The port mapper's last resort: a UPnP Internet Gateway Device on the local network. Its calls
// come from the mapper's worker, one at a time, each with the cancel token of the mapper's job,
// which every wait inside must watch. The interface, when given, is the link towards the default
// gateway; without one the gateway is searched for on any link.
class UPnPMapping {
public:
    virtual ~UPnPMapping() = default;

    // The mapping of TCP `internalPort` to the same external port, via "UPnP"; nothing when no
    // gateway was found or it refused.
    virtual std::optional<PortMapper::Mapping> map(std::uint16_t internalPort, std::uint32_t lifetime,
                                                   const std::optional<UDPExchange::Interface>& interface,
                                                   const CancelToken& cancel) = 0;
    // Asks the gateway to delete the mapping; the outcome is not reported.
    virtual void unmap(std::uint16_t internalPort, const std::optional<UDPExchange::Interface>& interface,
                       const CancelToken& cancel) = 0;
};

}  // namespace quib
