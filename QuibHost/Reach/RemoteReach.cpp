#include "QuibHost/Reach/RemoteReach.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <chrono>

#include "QuibHost/Reach/Wire/PortMapWire.hpp"
#include "Runtime/AssertOn.hpp"
#include "Runtime/HostWords.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/Required.hpp"
#include "Shared/CandidateOrder.hpp"
#include "Shared/OverlayAddress.hpp"
#include "Shared/RemoteAccess.hpp"

namespace quib {
namespace {

using Kind = RemoteReachService::Status::Kind;
using Status = RemoteReachService::Status;
using Failure = PortMapperService::Failure;

constexpr std::string_view dot = " \u00B7 ";

constexpr std::string_view noAddress =
    said<"Your router would not open a port, and nothing on the internet could say what ", HostWords::thisComputer,
         "'s public address is.">;
constexpr std::string_view carrierGradeNAT =
    said<"Your internet connection is behind your ISP's own NAT, so there is no port to forward. Reaching ",
         HostWords::thisComputer, " from away needs a relay, which ", HostWords::product, " does not have.">;
constexpr std::string_view noPublicAddress =
    "Your router forwarded the port but would not say what its public address is";
constexpr std::string_view switchedOffOverlay = said<
    "Direct internet access is off. For another Wi-Fi or cellular, connect Tailscale on both devices; this phone "
    "has saved ",
    HostWords::theComputer, "'s VPN address.">;
constexpr std::string_view switchedOff =
    said<"Direct internet access is off on ", HostWords::yourComputer,
         ". Connect on the same network, or enable Reachable on cellular in ", HostWords::panel,
         " while this phone is connected. A VPN is another option.">;

Status blocked(std::string reason) { return {Kind::blocked, std::move(reason)}; }

std::string notForwarded(std::uint16_t port) {
    return "Your router would not open a port by itself. Turn on UPnP, NAT-PMP or PCP in its settings — or forward "
           "TCP " +
           std::to_string(port) + " to " + HostWords::thisComputer.str() + " by hand, and " + HostWords::product.str() +
           " will start using it.";
}

// A STUN answer that can be an address at all: IPv4, outside 0.0.0.0/8 and below multicast.
bool isAnswer(const std::optional<StunWire::Reflexive>& answer) {
    if (!answer || answer->isIPv6) return false;
    std::array<std::uint8_t, 4> bytes{};
    if (::inet_pton(AF_INET, answer->host.c_str(), bytes.data()) != 1) return false;
    return bytes[0] != 0 && bytes[0] < 224;
}

std::string describe(const Status& status) {
    switch (status.kind) {
        case Kind::blocked: return "blocked(\"" + status.reason + "\")";
        case Kind::off: return "off";
        case Kind::working: return "working";
        case Kind::reachable: return "reachable";
    }
    return "off";
}

}  // namespace

RemoteReach::RemoteReach(Config config)
    : main_(required(std::move(config.main), "RemoteReach", "main")),
      settings_(required(std::move(config.settings), "RemoteReach", "settings")),
      secrets_(config.secrets),
      approvedIDs_(config.approvedIDs),
      keys_(std::move(config.secrets), std::move(config.approvedIDs)),
      mapper_(required(std::move(config.mapper), "RemoteReach", "mapper")),
      discovery_(required(std::move(config.discovery), "RemoteReach", "discovery")),
      localPort_(required(std::move(config.localPort), "RemoteReach", "localPort")),
      awayPort_(required(std::move(config.awayPort), "RemoteReach", "awayPort")),
      addresses_(config.addresses ? std::move(config.addresses) : std::function<PublicAddress::Addresses()>([] {
          return PublicAddress::interfaces();
      })),
      path_(std::move(config.path)),
      interfaceList_(std::move(config.interfaceList)),
      candidates_(main_, {}),
      status_(main_, Status{}),
      detail_(main_, std::nullopt) {}

bool RemoteReach::isEnabled() const { return settings_->get(enabledKey); }

void RemoteReach::setEnabled(bool enabled) {
    assertOn(*main_);
    if (enabled == isEnabled()) return;
    (void)settings_->setBool(enabledKey, enabled);  // a failure is logged by the settings
    if (enabled) start();
    else stop();
}

bool RemoteReach::isOnSameNetwork(const std::string& source) {
    const auto own = interfaceList_ ? PublicAddress::interfaces(interfaceList_->entries()) : addresses_();
    return PortMapWire::isOnSameNetwork(source, own.global);
}

void RemoteReach::start() {
    assertOn(*main_);
    if (!keysCanBeStored()) return;
    status_.set({Kind::working, {}});
    watchPath();
    refresh();
}

// Without a store for the away keys no phone could ever use a mapped port: away access stays
// blocked and maps nothing, and a port this run mapped before is deleted.
bool RemoteReach::keysCanBeStored() {
    if (secrets_.isUsable()) return true;
    cancelResolve();
    renewal_.cancel();
    if (mappedPort_) mapper_->unmap(*mappedPort_, CancelToken());
    mappedPort_.reset();
    detail_.set(std::nullopt);
    if (status_.value() != blocked(std::string(keyRefusal))) {
        quibLog().error("away: the ", HostWords::secretStore.chars,
                        " refused to store a key; away access cannot be switched on");
    }
    status_.set(blocked(std::string(keyRefusal)));
    refreshLocal();
    return false;
}

// The running attempt is cancelled before the unmap is queued, so that the unmap does not wait
// for a slow map to finish. The path stays watched and its signature stays stored.
void RemoteReach::stop() {
    cancelResolve();
    renewal_.cancel();
    status_.set({Kind::off, {}});
    detail_.set(std::nullopt);
    mapper_->unmap(mappedPort_.value_or(awayPort_()), CancelToken());
    mappedPort_.reset();
    refreshLocal();
}

void RemoteReach::cancelResolve() {
    ++generation_;
    cancel_.cancel();
    cancel_ = CancelToken();
}

void RemoteReach::refresh() {
    assertOn(*main_);
    if (!isEnabled()) return refreshLocal();
    if (!keysCanBeStored()) return;
    resolve();
}

void RemoteReach::refreshLocal() {
    assertOn(*main_);
    auto candidates = localCandidates();
    if (isEnabled()) {
        auto global = globalCandidates(awayPort_());
        candidates.insert(candidates.end(), global.begin(), global.end());
    }
    candidates_.set(CandidateOrder::sorted(std::move(candidates)));
}

void RemoteReach::watchPath() {
    assertOn(*main_);
    if (!path_) return;
    path_->start([weak = weak_from_this(), main = main_](std::string signature) {
        main->post([weak, signature = std::move(signature)] {
            if (auto self = weak.lock()) self->pathChanged(signature);
        });
    });
}

void RemoteReach::pathChanged(const std::string& signature) {
    assertOn(*main_);
    if (lastPathSignature_ == signature) return;
    lastPathSignature_ = signature;
    mapper_->forgetMapping();
    refresh();
}

// A mapping of another port made earlier in this run is deleted first, so that a changed away
// port leaves nothing behind on the router.
void RemoteReach::resolve() {
    cancelResolve();
    const Attempt attempt{generation_, awayPort_()};
    if (mappedPort_ && *mappedPort_ != attempt.port) mapper_->unmap(*mappedPort_, CancelToken());
    mappedPort_ = attempt.port;
    mapper_->map(attempt.port, lifetime, cancel_, [weak = weak_from_this(), main = main_, attempt](Outcome outcome) {
        main->post([weak, attempt, outcome = std::move(outcome)]() mutable {
            if (auto self = weak.lock()) self->mapped(attempt, std::move(outcome));
        });
    });
}

void RemoteReach::mapped(Attempt attempt, Outcome outcome) {
    if (attempt.generation != generation_) return;
    if (const auto* mapping = std::get_if<Mapping>(&outcome)) {
        // A router that reports 0.0.0.0 or junk for its address has none to give.
        if (mapping->externalHost && PortMapWire::isUsablePublicIPv4(*mapping->externalHost)) {
            return forwarded(attempt, *mapping, mapping->externalHost, std::nullopt);
        }
        return askStun(attempt, *mapping);
    }
    const auto& failure = std::get<Failure>(outcome);
    switch (failure.kind) {
        case Failure::Kind::refused:
            return publish(attempt, blocked("Your router refused to forward a port — " + failure.reason), std::nullopt,
                           std::nullopt);
        case Failure::Kind::carrierGradeNAT:
            return publish(attempt, blocked(failure.reason), std::nullopt, std::nullopt);
        case Failure::Kind::noGateway:
        case Failure::Kind::silent: return askStun(attempt, std::nullopt);
    }
}

// STUN runs on the mapper's worker, after the map and before any later unmap.
void RemoteReach::askStun(Attempt attempt, std::optional<Mapping> mapping) {
    mapper_->run([weak = weak_from_this(), main = main_, discovery = discovery_, cancel = cancel_, attempt,
                  mapping = std::move(mapping)] {
        if (cancel.isCancelled()) return;
        auto answer = discovery->reflexive(cancel);
        if (cancel.isCancelled()) return;
        main->post([weak, attempt, mapping, answer = std::move(answer)] {
            auto self = weak.lock();
            if (!self || attempt.generation != self->generation_) return;
            if (mapping) {
                std::optional<std::string> host;
                if (answer && !answer->isIPv6) host = answer->host;
                self->forwarded(attempt, *mapping, host, answer);
            } else {
                self->unmapped(attempt, answer);
            }
        });
    });
}

// Only a public answer says anything about reaching the host from away: a private one is the
// host's own address or that of a NAT inside the network, neither of which a phone can reach.
void RemoteReach::unmapped(Attempt attempt, const std::optional<StunWire::Reflexive>& answer) {
    const std::uint16_t port = attempt.port;
    if (!isAnswer(answer)) return publish(attempt, blocked(std::string(noAddress)), std::nullopt, std::nullopt);
    if (answer->isCarrierGradeNAT()) {
        return publish(attempt, blocked(std::string(carrierGradeNAT)), std::nullopt, std::nullopt);
    }
    if (!PortMapWire::isUsablePublicIPv4(answer->host)) {
        return publish(attempt, blocked(std::string(noAddress)), std::nullopt, std::nullopt);
    }
    const std::string endpoint = answer->host + ":" + std::to_string(port);
    const auto own = localCandidates();
    const bool direct =
        std::any_of(own.begin(), own.end(), [&](const QuibCandidate& c) { return c.host == answer->host; });
    if (direct) {
        return publish(attempt, {Kind::reachable, {}}, "direct" + std::string(dot) + endpoint,
                       QuibCandidate{answer->host, port, QuibCandidate::Reach::forwarded4, "no NAT"});
    }
    publish(attempt, blocked(notForwarded(port)), "seen as " + endpoint,
            QuibCandidate{answer->host, port, QuibCandidate::Reach::forwarded4, "not forwarded yet"});
}

void RemoteReach::forwarded(Attempt attempt, const Mapping& mapping, std::optional<std::string> publicHost,
                            const std::optional<StunWire::Reflexive>& answer) {
    const std::string port = std::to_string(mapping.externalPort);
    if (publicHost && PortMapWire::isUsablePublicIPv4(*publicHost)) {
        publish(attempt, {Kind::reachable, {}}, mapping.via + std::string(dot) + *publicHost + ":" + port,
                QuibCandidate{*publicHost, mapping.externalPort, QuibCandidate::Reach::forwarded4, mapping.via});
    } else if (isAnswer(answer) && answer->isCarrierGradeNAT()) {
        publish(attempt, blocked(std::string(carrierGradeNAT)), std::nullopt, std::nullopt);
    } else {
        publish(attempt, blocked(std::string(noPublicAddress)), mapping.via + std::string(dot) + "port " + port,
                std::nullopt);
    }
    scheduleRenewal(mapping.lifetime);
}

void RemoteReach::publish(Attempt attempt, Status status, std::optional<std::string> detail,
                          std::optional<QuibCandidate> forwarded) {
    assertOn(*main_);
    auto candidates = localCandidates();
    if (forwarded) candidates.push_back(std::move(*forwarded));
    auto global = globalCandidates(attempt.port);
    candidates.insert(candidates.end(), global.begin(), global.end());
    candidates = CandidateOrder::sorted(std::move(candidates));
    const auto count = static_cast<long>(candidates.size());
    detail_.set(std::move(detail));
    candidates_.set(std::move(candidates));
    quibLog().info("away: ", count, " candidates, ", pub(describe(status)));
    status_.set(std::move(status));
}

// Half the lifetime, but never sooner than a minute; each schedule replaces the last.
void RemoteReach::scheduleRenewal(std::uint32_t lifetime) {
    renewal_.cancel();
    const auto after = std::chrono::seconds(std::max<std::uint32_t>(lifetime / 2, 60));
    renewal_ = main_->postAfter(after, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->refresh();
    });
}

std::vector<QuibCandidate> RemoteReach::localCandidates() const {
    std::vector<QuibCandidate> candidates;
    const std::uint16_t port = localPort_();
    for (const std::string& host : addresses_().local) {
        candidates.push_back(
            {host, port, QuibCandidate::Reach::local, OverlayAddress::contains(host) ? "VPN" : "this network"});
    }
    return candidates;
}

std::vector<QuibCandidate> RemoteReach::globalCandidates(std::uint16_t port) const {
    std::vector<QuibCandidate> candidates;
    for (const std::string& host : addresses_().global) {
        candidates.push_back({host, port, QuibCandidate::Reach::internet6, "IPv6"});
    }
    return candidates;
}

std::optional<std::string> RemoteReach::unavailable() const {
    const Status status = status_.value();
    if (status.kind == Kind::blocked) return status.reason;
    if (isEnabled()) return std::nullopt;
    const auto candidates = candidates_.value();
    const bool overlay = std::any_of(candidates.begin(), candidates.end(),
                                     [](const QuibCandidate& c) { return OverlayAddress::contains(c.host); });
    return std::string(overlay ? switchedOffOverlay : switchedOff);
}

RemoteAccessPayload RemoteReach::payload(const std::optional<std::string>& deviceID, bool isLocalPeer) {
    RemoteAccessPayload payload;
    payload.isEnabled = isEnabled();
    payload.candidates = candidates_.value();
    payload.unavailable = unavailable();
    if (!payload.isEnabled || !isLocalPeer || !deviceID || !approvedIDs_().contains(*deviceID)) return payload;
    if (auto key = keys_.issue(*deviceID)) {
        payload.keyIdentity = RemoteAccess::identity(*deviceID);
        payload.keyMaterial = std::move(*key);
    } else {
        payload.unavailable = std::string(keyRefusal);
    }
    return payload;
}

}  // namespace quib
