// Typed pairing codes: normalizing twice changes nothing, and a code that validates is six
// characters of the alphabet.
#include "FuzzSupport.hpp"
#include "Shared/PairingCode.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quib;
    const std::string_view typed = fuzz::text(data, size);
    const std::string normalized = PairingCode::normalize(typed);
    fuzz::require(PairingCode::normalize(normalized) == normalized);
    const auto problem = PairingCode::validate(typed);
    if (problem) {
        (void)problem->message();
        return 0;
    }
    fuzz::require(normalized.size() == static_cast<std::size_t>(PairingCode::length));
    for (char c : normalized) fuzz::require(PairingCode::alphabet.find(c) != std::string_view::npos);
    return 0;
}
