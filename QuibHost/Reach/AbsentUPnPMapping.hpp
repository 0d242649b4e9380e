#pragma once

#include "QuibHost/Reach/UPnPMapping.hpp"

namespace quib {

// A UPnP side that never finds a gateway: mapping gives nothing, deleting does nothing.
class AbsentUPnPMapping final : public UPnPMapping {
public:
    std::optional<PortMapper::Mapping> map(std::uint16_t, std::uint32_t, const std::optional<UDPExchange::Interface>&,
                                           const CancelToken&) override {
        return std::nullopt;
    }
    void unmap(std::uint16_t, const std::optional<UDPExchange::Interface>&, const CancelToken&) override {}
};

}  // namespace quib
