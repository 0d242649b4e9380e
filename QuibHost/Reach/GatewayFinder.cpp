#include "QuibHost/Reach/GatewayFinder.hpp"

#include <arpa/inet.h>
#include <net/route.h>

#include <algorithm>
#include <array>
#include <charconv>

#include "Runtime/RegularFile.hpp"

namespace quib {
namespace {

using LinkKind = InterfaceAddresses::LinkKind;

// Far beyond the route table of any computer this host runs on; a larger one is not read.
constexpr std::uintmax_t maxRouteTable = 4 * 1024 * 1024;

std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> found;
    std::size_t at = 0;
    while (true) {
        at = line.find_first_not_of(" \t\r", at);
        if (at == std::string_view::npos) return found;
        const std::size_t end = std::min(line.find_first_of(" \t\r", at), line.size());
        found.push_back(line.substr(at, end - at));
        at = end;
    }
}

bool number(std::string_view text, std::uint32_t& value, int base) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// Iface, Destination, Gateway, Flags, RefCnt, Use, Metric, Mask, then MTU, Window and IRTT.
std::optional<GatewayFinder::Route> row(std::string_view line) {
    const auto columns = fields(line);
    if (columns.size() < 8) return std::nullopt;
    GatewayFinder::Route route;
    route.link = std::string(columns[0]);
    if (!number(columns[1], route.destination, 16) || !number(columns[2], route.gateway, 16) ||
        !number(columns[3], route.flags, 16) || !number(columns[6], route.metric, 10) ||
        !number(columns[7], route.mask, 16)) {
        return std::nullopt;
    }
    return route;
}

// 0 for Wi-Fi, 1 for wired Ethernet; none for links that never lead to the home router.
std::optional<int> preference(LinkKind kind) {
    if (kind == LinkKind::wifi) return 0;
    if (kind == LinkKind::wiredEthernet) return 1;
    return std::nullopt;
}

bool isDefaultRoute(const GatewayFinder::Route& route) {
    const std::uint32_t needed = RTF_UP | RTF_GATEWAY;
    return route.destination == 0 && route.mask == 0 && (route.flags & needed) == needed && route.gateway != 0;
}

std::string dotted(std::uint32_t networkOrder) {
    in_addr address{};
    address.s_addr = networkOrder;
    std::array<char, INET_ADDRSTRLEN> text{};
    return ::inet_ntop(AF_INET, &address, text.data(), text.size()) ? text.data() : "";
}

}  // namespace

std::vector<GatewayFinder::Route> GatewayFinder::parseRoutes(std::string_view table) {
    std::vector<Route> routes;
    while (!table.empty()) {
        const std::size_t end = std::min(table.find('\n'), table.size());
        if (auto route = row(table.substr(0, end))) routes.push_back(std::move(*route));
        table.remove_prefix(std::min(end + 1, table.size()));
    }
    return routes;
}

std::optional<GatewayFinder::Gateway> GatewayFinder::choose(const std::vector<Route>& routes,
                                                            const std::vector<Link>& links) {
    const Route* best = nullptr;
    const Link* bestLink = nullptr;
    int bestPreference = 0;
    for (const Route& route : routes) {
        if (!isDefaultRoute(route)) continue;
        const auto link = std::find_if(links.begin(), links.end(), [&](const Link& l) { return l.name == route.link; });
        if (link == links.end() || !link->isUp || !link->isRunning) continue;
        const auto rank = preference(link->kind);
        if (!rank) continue;
        if (best && (*rank > bestPreference || (*rank == bestPreference && route.metric >= best->metric))) continue;
        best = &route;
        bestLink = &*link;
        bestPreference = *rank;
    }
    if (!best) return std::nullopt;
    return Gateway{{dotted(best->gateway), portMappingPort}, UDPExchange::Interface{bestLink->name, bestLink->ipv4}};
}

std::vector<GatewayFinder::Link> GatewayFinder::links() {
    std::vector<Link> found;
    for (const auto& entry : InterfaceAddresses::list()) {
        auto link = std::find_if(found.begin(), found.end(), [&](const Link& l) { return l.name == entry.name; });
        if (link == found.end()) {
            found.push_back(
                Link{entry.name, entry.isUp, entry.isRunning, InterfaceAddresses::linkKind(entry.name), ""});
            link = std::prev(found.end());
        }
        if (link->ipv4.empty() && entry.family == InterfaceAddresses::Family::ipv4) link->ipv4 = entry.host;
    }
    return found;
}

std::optional<GatewayFinder::Gateway> GatewayFinder::find() {
    const auto table = readRegularFile("/proc/net/route", maxRouteTable);
    if (!table) return std::nullopt;
    const auto routes = parseRoutes(*table);
    if (std::none_of(routes.begin(), routes.end(), isDefaultRoute)) return std::nullopt;
    return choose(routes, links());
}

}  // namespace quib
