// STUN answers of any shape, for one fixed transaction: the attribute walk reads only inside the
// answer and ends, and every address it gives is well-formed text.
#include <array>

#include "FuzzSupport.hpp"
#include "QuibHost/Reach/Wire/PortMapWire.hpp"
#include "QuibHost/Reach/Wire/StunWire.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quib;
    static constexpr std::array<std::uint8_t, 12> transaction{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const std::span<const std::uint8_t> answer(data, size);

    if (const auto address = StunWire::reflexiveAddress(answer, transaction)) {
        fuzz::require(size >= 20 && std::equal(transaction.begin(), transaction.end(), data + 8));
        if (address->isIPv6) {
            fuzz::require(PortMapWire::ipv6Bytes(address->host).has_value());
        } else {
            fuzz::require(PortMapWire::mappedIPv6(address->host).has_value());
        }
        (void)address->isCarrierGradeNAT();
    }
    if (const auto code = StunWire::errorCode(answer)) fuzz::require(*code >= 0 && *code <= 255 * 100 + 255);
    (void)StunWire::server(fuzz::text(data, size));
    return 0;
}
