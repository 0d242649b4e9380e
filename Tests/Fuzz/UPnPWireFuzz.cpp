// What a router answers over UPnP, of any shape: descriptions, SOAP answers and search answers
// are read without crashing, and what comes out is trimmed text taken from the input.
#include <algorithm>

#include "FuzzSupport.hpp"
#include "QuibHost/Reach/Wire/UPnPWire.hpp"

namespace {

bool isTrimmed(std::string_view text) {
    constexpr std::string_view whiteSpace = " \t\r\n\v\f";
    return text.empty() || (whiteSpace.find(text.front()) == std::string_view::npos &&
                            whiteSpace.find(text.back()) == std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quib;
    const std::string_view text = fuzz::text(data, size);

    if (const auto services = UPnPWire::services(text)) {
        for (const auto& service : *services) fuzz::require(isTrimmed(service.type) && isTrimmed(service.controlURL));
        for (const auto type : UPnPWire::serviceTypes) {
            if (const auto url = UPnPWire::controlURL(type, *services)) fuzz::require(!url->empty());
        }
    }
    fuzz::require(isTrimmed(UPnPWire::faultText(text)));
    if (const auto address = UPnPWire::elementText("NewExternalIPAddress", text)) fuzz::require(isTrimmed(*address));
    if (const auto location = UPnPWire::header("LOCATION", text)) {
        fuzz::require(location->size() <= size && location->find('\n') == std::string::npos);
    }
    return 0;
}
