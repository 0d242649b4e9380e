// Router answers of any shape: the NAT-PMP and PCP parsers read only inside the answer, and what
// they read agrees with the answer's bytes; addresses survive the trip to text and back.
#include "FuzzSupport.hpp"
#include "QuibHost/Reach/Wire/PortMapWire.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quib;
    const std::span<const std::uint8_t> answer(data, size);

    if (const auto map = PortMapWire::NATPMP::parseMapResponse(answer)) {
        fuzz::require(size >= 16 && map->lifetime == bigEndian(answer, 12));
    }
    if (const auto address = PortMapWire::NATPMP::parseExternalAddressResponse(answer)) {
        const auto mapped = PortMapWire::mappedIPv6(address->address);
        fuzz::require(mapped && PortMapWire::ipv4(*mapped) == address->address);
    }
    if (const auto map = PortMapWire::PCP::parseMapResponse(answer)) {
        fuzz::require(map->nonce.size() == 12 && map->externalAddress.size() == 16);
        if (const auto ipv4 = PortMapWire::ipv4(map->externalAddress)) {
            fuzz::require(PortMapWire::mappedIPv6(*ipv4) == map->externalAddress);
        }
        fuzz::require(!PortMapWire::PCP::saysUseNATPMP(answer));
    }
    (void)PortMapWire::PCP::messageForCode(size > 3 ? data[3] : 0);

    // The same bytes as address text.
    const std::string_view text = fuzz::text(data, size);
    if (const auto mapped = PortMapWire::mappedIPv6(text)) {
        const auto ipv4 = PortMapWire::ipv4(*mapped);
        fuzz::require(ipv4 && PortMapWire::mappedIPv6(*ipv4) == mapped);
    }
    if (PortMapWire::isUsablePublicIPv4(text)) fuzz::require(!PortMapWire::isPrivateIPv4(text));
    return 0;
}
