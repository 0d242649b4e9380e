#include "QuibHost/Reach/PortMapper.hpp"

#include "QuibHost/Reach/AbsentUPnPGateway.hpp"
#include "QuibHost/Reach/Wire/PortMapWire.hpp"
#include "Runtime/Logger.hpp"

namespace quib {
namespace {

using PCP = PortMapWire::PCP;
using NATPMP = PortMapWire::NATPMP;

constexpr std::uint8_t tcp = 6;
const Bytes unspecifiedAddress(16, 0);
// The suggested external address of an IPv4 mapping: the family's own all-zeros address,
// ::ffff:0.0.0.0, which routers that check the family take for "any" where they refuse "::".
const Bytes anyIPv4{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0};

bool isMapping(const PortMapper::Outcome& outcome) { return std::holds_alternative<PortMapper::Mapping>(outcome); }

bool isFailure(const PortMapper::Outcome& outcome, PortMapper::Failure::Kind kind) {
    const auto* failure = std::get_if<PortMapper::Failure>(&outcome);
    return failure && failure->kind == kind;
}

// Whether a PCP answer is the one to our request, not a stray or replayed datagram about
// another mapping.
bool answers(const PCP::MapResponse& response, const Bytes& nonce, std::uint16_t internalPort) {
    return response.nonce == nonce && response.protocolNumber == tcp && response.internalPort == internalPort;
}

// A success that maps port 0, or for no time when time was asked for, maps nothing a phone can use.
bool mapsNothing(std::uint16_t externalPort, std::uint32_t granted, std::uint32_t asked) {
    return asked != 0 && (externalPort == 0 || granted == 0);
}

PortMapper::Outcome judge(const PCP::MapResponse& response, std::uint16_t internalPort, std::uint32_t lifetime) {
    const auto result = PCP::result(response.result);
    if (!result) return PortMapper::Failure::refused(PCP::messageForCode(response.result));
    if (*result == PCP::Result::cannotProvideExternal) {
        return PortMapper::Failure::carrierGradeNAT(std::string(PCP::message(*result)));
    }
    if (*result != PCP::Result::success) {
        const std::string reason(PCP::message(*result));
        quibLog().info("away: PCP refused — ", pub(reason));
        return PortMapper::Failure::refused(reason);
    }
    if (mapsNothing(response.externalPort, response.lifetime, lifetime)) {
        quibLog().info("away: PCP answered success with port ", response.externalPort, " for ", response.lifetime,
                       "s, which maps nothing");
        return PortMapper::Failure::silent();
    }
    if (lifetime == 0) quibLog().info("away: PCP deleted the mapping of ", internalPort);
    else
        quibLog().info("away: PCP mapped ", internalPort, " → ", response.externalPort, " for ", response.lifetime,
                       "s");
    return PortMapper::Mapping{PortMapWire::ipv4(response.externalAddress), response.externalPort, response.lifetime,
                               "PCP"};
}

// The client address a PCP request names: this side's address as the exchange saw it.
std::optional<Bytes> clientAddress(const std::optional<std::string>& localAddress) {
    if (!localAddress) return std::nullopt;
    if (auto mapped = PortMapWire::mappedIPv6(*localAddress)) return mapped;
    return PortMapWire::ipv6Bytes(*localAddress);
}

std::optional<Bytes> pcpRequest(std::span<const std::uint8_t> client, const Bytes& nonce, std::uint16_t internalPort,
                                std::uint32_t lifetime) {
    auto request = PCP::mapRequest(client, nonce, internalPort, internalPort, anyIPv4, lifetime);
    if (!request || request->size() != PCP::requestLength) return std::nullopt;
    return request;
}

}  // namespace

PortMapper::PortMapper(Config config)
    : timings_(config.timings),
      upnp_(config.upnp ? std::move(config.upnp) : std::make_shared<AbsentUPnPGateway>()),
      findGateway_(config.findGateway ? std::move(config.findGateway) : &GatewayFinder::find),
      nonce_(PortMapWire::newNonce()),
      worker_("com.brenmoor.quib.host.gateway") {}

PortMapper::~PortMapper() = default;

void PortMapper::map(std::uint16_t internalPort, std::uint32_t lifetime, CancelToken cancel,
                     std::function<void(Outcome)> done) {
    worker_.post([this, internalPort, lifetime, cancel = std::move(cancel), done = std::move(done)] {
        if (auto outcome = runMap(internalPort, lifetime, cancel); outcome && done) done(std::move(*outcome));
    });
}

void PortMapper::unmap(std::uint16_t internalPort, CancelToken cancel, std::function<void()> done) {
    worker_.post([this, internalPort, cancel = std::move(cancel), done = std::move(done)] {
        if (runUnmap(internalPort, cancel) && done) done();
    });
}

void PortMapper::run(std::function<void()> job) { worker_.post(std::move(job)); }

void PortMapper::forgetMapping() {
    Bytes fresh = PortMapWire::newNonce();
    MutexLock lock(mutex_);
    nonce_ = std::move(fresh);
}

Bytes PortMapper::nonce() const {
    MutexLock lock(mutex_);
    return nonce_;
}

std::optional<PortMapper::Gateway> PortMapper::gateway() const { return findGateway_(); }

PortMapper::Step PortMapper::runMap(std::uint16_t internalPort, std::uint32_t lifetime, const CancelToken& cancel) {
    if (cancel.isCancelled()) return std::nullopt;
    const auto gateway = this->gateway();
    if (!gateway) {
        auto byUPnP = upnpMap(std::nullopt, internalPort, lifetime, cancel);
        if (!byUPnP || isMapping(*byUPnP)) return byUPnP;
        return Failure::noGateway();
    }
    const Step byPCP = pcp(*gateway, internalPort, lifetime, cancel);
    if (!byPCP || isMapping(*byPCP) || isFailure(*byPCP, Failure::Kind::carrierGradeNAT)) return byPCP;
    const Step byNATPMP = natPMP(*gateway, internalPort, lifetime, cancel);
    if (!byNATPMP || isMapping(*byNATPMP)) return byNATPMP;
    const Step byUPnP = upnpMap(gateway, internalPort, lifetime, cancel);
    if (!byUPnP || isMapping(*byUPnP)) return byUPnP;
    // What the caller reports is PCP's failure: NAT-PMP's is never told.
    return byPCP;
}

bool PortMapper::runUnmap(std::uint16_t internalPort, const CancelToken& cancel) {
    if (cancel.isCancelled()) return false;
    const auto gateway = this->gateway();
    if (gateway) {
        if (!pcp(*gateway, internalPort, 0, cancel)) return false;
        if (!natPMP(*gateway, internalPort, 0, cancel)) return false;
    }
    upnp_->unmap(internalPort, gateway ? gateway->interface : std::nullopt, cancel);
    return !cancel.isCancelled();
}

// At most two attempts, each sent again halfway through when no answer came. Routers check the
// client address a request names against the one it came from, so it names the address this
// side has towards the router from the first send on; should the exchange leave from another
// one, it goes once more naming that, and that answer, when one comes, is the one judged.
PortMapper::Step PortMapper::pcp(const Gateway& gateway, std::uint16_t internalPort, std::uint32_t lifetime,
                                 const CancelToken& cancel) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const Bytes nonce = this->nonce();
        const Bytes client =
            clientAddress(UDPExchange::localAddress(gateway.endpoint, gateway.interface)).value_or(unspecifiedAddress);
        const auto request = pcpRequest(client, nonce, internalPort, lifetime);
        if (!request) return Failure::silent();
        auto first = UDPExchange::ask(*request, gateway.endpoint, gateway.interface, pcpSchedule(), cancel);
        if (cancel.isCancelled()) return std::nullopt;
        if (!first) continue;
        if (PCP::saysUseNATPMP(first->reply)) return Failure::silent();
        Bytes answer = std::move(first->reply);
        const auto seenFrom = clientAddress(first->localAddress);
        if (seenFrom && *seenFrom != client) {
            if (auto again = pcpResend(gateway, *seenFrom, nonce, internalPort, lifetime, cancel))
                answer = std::move(*again);
        }
        if (cancel.isCancelled()) return std::nullopt;
        const auto response = PCP::parseMapResponse(answer);
        if (!response || !answers(*response, nonce, internalPort)) continue;
        return judge(*response, internalPort, lifetime);
    }
    return Failure::silent();
}

std::optional<Bytes> PortMapper::pcpResend(const Gateway& gateway, const Bytes& client, const Bytes& nonce,
                                           std::uint16_t internalPort, std::uint32_t lifetime,
                                           const CancelToken& cancel) {
    const auto request = pcpRequest(client, nonce, internalPort, lifetime);
    if (!request) return std::nullopt;
    auto answer = UDPExchange::ask(*request, gateway.endpoint, gateway.interface, pcpSchedule(), cancel);
    if (!answer) return std::nullopt;
    return std::move(answer->reply);
}

UDPExchange::Schedule PortMapper::pcpSchedule() const {
    return {timings_.portMapping, timings_.pcpResend, timings_.clock};
}

UDPExchange::Schedule PortMapper::natpmpSchedule() const {
    return {timings_.portMapping, timings_.natpmpResend, timings_.clock};
}

// A deletion suggests no external port, as the standard asks of one.
PortMapper::Step PortMapper::natPMP(const Gateway& gateway, std::uint16_t internalPort, std::uint32_t lifetime,
                                    const CancelToken& cancel) {
    const Bytes request = NATPMP::mapRequest(internalPort, lifetime == 0 ? 0 : internalPort, lifetime);
    const auto answer = UDPExchange::ask(request, gateway.endpoint, gateway.interface, natpmpSchedule(), cancel);
    if (cancel.isCancelled()) return std::nullopt;
    const auto response = answer ? NATPMP::parseMapResponse(answer->reply) : std::nullopt;
    if (!response) return Failure::silent();
    if (response->result != 0) return Failure::refused(NATPMP::messageForCode(response->result));
    if (mapsNothing(response->externalPort, response->lifetime, lifetime)) {
        quibLog().info("away: NAT-PMP answered success with port ", response->externalPort, " for ", response->lifetime,
                       "s, which maps nothing");
        return Failure::silent();
    }
    const auto external =
        UDPExchange::ask(NATPMP::externalAddressRequest, gateway.endpoint, gateway.interface, natpmpSchedule(), cancel);
    if (cancel.isCancelled()) return std::nullopt;
    const auto address = external ? NATPMP::parseExternalAddressResponse(external->reply) : std::nullopt;
    std::optional<std::string> host;
    if (address && address->result == 0) host = address->address;
    if (lifetime == 0) {
        quibLog().info("away: NAT-PMP deleted the mapping of ", internalPort);
    } else {
        quibLog().info("away: NAT-PMP mapped ", internalPort, " → ", response->externalPort, " for ",
                       response->lifetime, "s");
    }
    return Mapping{std::move(host), response->externalPort, response->lifetime, "NAT-PMP"};
}

PortMapper::Step PortMapper::upnpMap(const std::optional<Gateway>& gateway, std::uint16_t internalPort,
                                     std::uint32_t lifetime, const CancelToken& cancel) {
    auto mapping = upnp_->map(internalPort, lifetime, gateway ? gateway->interface : std::nullopt, cancel);
    if (cancel.isCancelled()) return std::nullopt;
    if (mapping) return Outcome{std::move(*mapping)};
    return Failure::silent();
}

}  // namespace quib
