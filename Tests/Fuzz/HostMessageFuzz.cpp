// Decodes the input as a line from the host, as a phone does; whatever decodes must encode again and read back
// to the same line.
#include "FuzzSupport.hpp"
#include "Shared/HostMessage.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quib::fuzz::requireRoundTrip<quib::HostMessage>(quib::fuzz::text(data, size));
    return 0;
}
