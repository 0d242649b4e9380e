// Route tables of any shape: every row read keeps its link name, and the gateway chosen, when
// there is one, comes from a default route over one of the links offered.
#include <algorithm>

#include "FuzzSupport.hpp"
#include "QuibHost/Reach/GatewayFinder.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quib;
    const auto routes = GatewayFinder::parseRoutes(fuzz::text(data, size));
    std::vector<GatewayFinder::Link> links;
    for (const auto& route : routes) {
        fuzz::require(!route.link.empty() && route.link.find_first_of(" \t\n") == std::string::npos);
        const auto kind =
            route.metric % 2 ? InterfaceAddresses::LinkKind::wifi : InterfaceAddresses::LinkKind::wiredEthernet;
        links.push_back({route.link, true, true, kind, "192.0.2.1"});
    }
    const auto gateway = GatewayFinder::choose(routes, links);
    if (!gateway) return 0;
    fuzz::require(gateway->endpoint.port == GatewayFinder::portMappingPort && gateway->interface);
    const bool fromADefaultRoute = std::any_of(routes.begin(), routes.end(), [&](const GatewayFinder::Route& route) {
        return route.link == gateway->interface->name && route.destination == 0 && route.mask == 0 &&
               route.gateway != 0;
    });
    fuzz::require(fromADefaultRoute);
    return 0;
}
