// Decodes the input as a line from a phone; whatever decodes must encode again and read back
// to the same line.
#include "FuzzSupport.hpp"
#include "Shared/ClientMessage.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quib::fuzz::requireRoundTrip<quib::ClientMessage>(quib::fuzz::text(data, size));
    return 0;
}
