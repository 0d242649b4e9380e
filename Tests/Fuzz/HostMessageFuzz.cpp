// Decodes the input as a line from the host, as a phone does; whatever decodes must encode again and read back
// to the same line.
#include "FuzzSupport.hpp"
#include "Shared/HostMessage.hpp"
#include "Shared/QuibCoder.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quib;
    auto message = QuibCoder::decode<HostMessage>(fuzz::text(data, size));
    if (!message) return 0;
    auto line = QuibCoder::line(*message);
    if (!line) return 0;  // a number that is not finite cannot be written
    auto again = QuibCoder::decode<HostMessage>(*line);
    fuzz::require(again.ok());
    auto second = QuibCoder::line(*again);
    fuzz::require(second.ok() && *second == *line);
    return 0;
}
