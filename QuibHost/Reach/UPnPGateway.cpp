#include "QuibHost/Reach/UPnPGateway.hpp"

#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <cerrno>

#include "QuibHost/Reach/Wire/PortMapWire.hpp"
#include "QuibHost/Reach/Wire/UPnPWire.hpp"
#include "Runtime/DescriptorWait.hpp"
#include "Runtime/FileDescriptor.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/UnicodeText.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// How long past its own time-out a request's completion is waited for.
constexpr auto completionGrace = 1s;

// One request's answer, handed from the poster's thread to the waiting worker.
struct PendingAnswer {
    Mutex mutex;
    std::optional<HttpResponse> response GUARDED_BY(mutex);
    FileDescriptor arrived{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};

    void deliver(HttpResponse answer) {
        {
            MutexLock lock(mutex);
            response = std::move(answer);
        }
        const std::uint64_t one = 1;
        (void)!::write(arrived.get(), &one, sizeof one);
    }
    std::optional<HttpResponse> take() {
        MutexLock lock(mutex);
        return std::move(response);
    }
};

// Connects `socket`, made for the endpoint's family, to `address`; false when it does not
// connect by the deadline or a cancel.
bool connectBy(int socket, const addrinfo& address, SteadyClock::time_point deadline, const CancelToken& cancel) {
    if (::connect(socket, address.ai_addr, address.ai_addrlen) == 0) return true;
    if (errno != EINPROGRESS) return false;
    if (DescriptorWait::until(socket, POLLOUT, deadline, cancel) != DescriptorWait::Outcome::ready) return false;
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

}  // namespace

UPnPGateway::UPnPGateway(Config config)
    : poster_(std::move(config.poster)),
      timings_(config.timings),
      search_(poster_, timings_.ssdpWindow, std::move(config.search)) {}

std::optional<PortMapper::Mapping> UPnPGateway::map(std::uint16_t internalPort, std::uint32_t lifetime,
                                                    const std::optional<UDPExchange::Interface>& interface,
                                                    const CancelToken& cancel) {
    if (cancel.isCancelled()) return std::nullopt;
    const auto control = resolvedControl(interface, cancel);
    if (!control) return std::nullopt;
    if (addPortMapping(*control, internalPort, lifetime, cancel)) {
        quibLog().info("away: UPnP mapped ", internalPort, " for ", lifetime, "s");
    } else if (addPortMapping(*control, internalPort, 0, cancel)) {
        quibLog().info("away: UPnP mapped ", internalPort, " with no lease — the router refused a leased one");
    } else {
        // A cancel is no refusal: the gateway stays known.
        if (cancel.isCancelled()) return std::nullopt;
        MutexLock lock(mutex_);
        control_.reset();
        return std::nullopt;
    }
    return PortMapper::Mapping{externalAddress(*control, cancel), internalPort, lifetime, "UPnP"};
}

// Any control point may delete any entry of a gateway, so the entry is looked at first: one that
// forwards to another computer, or that the gateway will not describe, is left alone.
void UPnPGateway::unmap(std::uint16_t internalPort, const std::optional<UDPExchange::Interface>& interface,
                        const CancelToken& cancel) {
    if (cancel.isCancelled()) return;
    const auto control = resolvedControl(interface, cancel);
    if (!control) return;
    const auto entry =
        soap(*control, "GetSpecificPortMappingEntry", UPnPWire::portMappingEntryArguments(internalPort), cancel);
    if (!entry) return;
    const auto client = UPnPWire::elementText("NewInternalClient", *entry);
    if (client != control->localAddress) {
        quibLog().info("away: UPnP leaves port ", internalPort, " alone: it forwards to ", pub(client.value_or("?")),
                       ", not to this computer");
        return;
    }
    soap(*control, "DeletePortMapping", UPnPWire::deletePortMappingArguments(internalPort), cancel);
}

std::optional<UPnPGateway::Control> UPnPGateway::control() const {
    MutexLock lock(mutex_);
    return control_;
}

UDPExchange::Endpoint UPnPGateway::probeEndpoint(const HttpUrl& url) {
    std::string host = url.host;
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    return {std::move(host), url.port.value_or(80)};
}

std::optional<std::string> UPnPGateway::localAddress(const UDPExchange::Endpoint& endpoint, Duration timeout,
                                                     const CancelToken& cancel) {
    if (cancel.isCancelled()) return std::nullopt;
    const auto deadline = SteadyClock::now() + timeout;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(endpoint.port);
    if (::getaddrinfo(endpoint.host.c_str(), port.c_str(), &hints, &found) != 0 || !found) return std::nullopt;
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owned(found, &::freeaddrinfo);
    const FileDescriptor socket(::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socket.isOpen() || !connectBy(socket.get(), *found, deadline, cancel)) return std::nullopt;
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) return std::nullopt;
    return UDPExchange::address(local);
}

std::optional<UPnPGateway::Control> UPnPGateway::resolvedControl(const std::optional<UDPExchange::Interface>& interface,
                                                                 const CancelToken& cancel) {
    if (auto kept = control()) return kept;
    auto found = discover(interface, cancel);
    if (found) {
        MutexLock lock(mutex_);
        control_ = found;
    }
    return found;
}

std::optional<UPnPGateway::Control> UPnPGateway::discover(const std::optional<UDPExchange::Interface>& interface,
                                                          const CancelToken& cancel) {
    for (const HttpUrl& location : search_.discover(interface, cancel)) {
        if (auto control = describe(location, cancel)) return control;
    }
    return std::nullopt;
}

std::optional<UPnPGateway::Control> UPnPGateway::describe(const HttpUrl& location, const CancelToken& cancel) {
    HttpRequest get = request(location.url);
    get.method = HttpRequest::Method::get;
    const auto answer = send(std::move(get), cancel);
    if (!answer || answer->failure || answer->status != 200 || !unicode::isValidUtf8(answer->body)) return std::nullopt;
    const auto services = UPnPWire::services(answer->body);
    if (!services) return std::nullopt;
    for (const auto type : UPnPWire::serviceTypes) {
        const auto path = UPnPWire::controlURL(type, *services);
        if (!path) continue;
        if (auto control = controlOf(type, *path, location, cancel)) {
            quibLog().info("away: UPnP gateway at ", pub(control->url));
            return control;
        }
    }
    return std::nullopt;
}

// The control URL must stay on the gateway that described it, and over http.
std::optional<UPnPGateway::Control> UPnPGateway::controlOf(std::string_view serviceType, const std::string& path,
                                                           const HttpUrl& location, const CancelToken& cancel) {
    const auto url = poster_->resolve(location.url, path);
    if (!url || url->scheme != "http" || url->host != location.host) return std::nullopt;
    auto local = localAddress(probeEndpoint(*url), timings_.localAddressProbe, cancel);
    if (!local) return std::nullopt;
    return Control{url->url, std::string(serviceType), std::move(*local)};
}

bool UPnPGateway::addPortMapping(const Control& control, std::uint16_t port, std::uint32_t lease,
                                 const CancelToken& cancel) {
    const auto arguments = UPnPWire::addPortMappingArguments(port, control.localAddress, lease);
    return soap(control, "AddPortMapping", arguments, cancel).has_value();
}

// Only an address that can be handed to phones counts: a router whose own uplink is down often
// says 0.0.0.0, and some say things that are no address at all.
std::optional<std::string> UPnPGateway::externalAddress(const Control& control, const CancelToken& cancel) {
    const auto answer = soap(control, "GetExternalIPAddress", "", cancel);
    if (!answer) return std::nullopt;
    auto address = UPnPWire::elementText("NewExternalIPAddress", *answer);
    if (!address || !PortMapWire::isUsablePublicIPv4(*address)) return std::nullopt;
    return address;
}

std::optional<std::string> UPnPGateway::soap(const Control& control, std::string_view action,
                                             std::string_view arguments, const CancelToken& cancel) {
    HttpRequest post = request(control.url);
    post.headers = {{"Content-Type", std::string(UPnPWire::soapContentType)},
                    {"SOAPAction", UPnPWire::soapAction(control.serviceType, action)},
                    {"Expect", ""}};
    post.body = UPnPWire::soapBody(control.serviceType, action, arguments);
    const auto answer = send(std::move(post), cancel);
    if (!answer || answer->failure) return std::nullopt;
    const bool readable = unicode::isValidUtf8(answer->body);
    if (answer->status == 200) return readable ? answer->body : std::string();
    const std::string fault = readable ? UPnPWire::faultText(answer->body) : std::string();
    quibLog().warning("away: UPnP ", pub(action), " failed ", answer->status, " ", pub(fault));
    return std::nullopt;
}

HttpRequest UPnPGateway::request(std::string url) const {
    HttpRequest request;
    request.url = std::move(url);
    request.followRedirects = false;
    request.httpsAllowed = false;
    request.environmentProxy = false;
    request.responseLimit = maxAnswer;
    request.failBeyondLimit = true;
    const auto timeout = std::chrono::ceil<std::chrono::milliseconds>(timings_.http);
    request.connectTimeout = timeout;
    request.totalTimeout = timeout;
    request.stallTimeout = std::chrono::ceil<std::chrono::seconds>(timings_.http);
    return request;
}

// Posts the request and waits for its answer, the request's own time-out (and a little more)
// or a cancel, whichever comes first. Nothing is posted once the token is cancelled.
std::optional<HttpResponse> UPnPGateway::send(HttpRequest request, const CancelToken& cancel) {
    if (cancel.isCancelled()) return std::nullopt;
    auto pending = std::make_shared<PendingAnswer>();
    if (!pending->arrived.isOpen()) return std::nullopt;
    request.cancel = cancel;
    const auto deadline = SteadyClock::now() + request.totalTimeout + completionGrace;
    poster_->post(std::move(request), [pending](HttpResponse answer) { pending->deliver(std::move(answer)); });
    if (DescriptorWait::until(pending->arrived.get(), POLLIN, deadline, cancel) != DescriptorWait::Outcome::ready) {
        return std::nullopt;
    }
    return pending->take();
}

}  // namespace quib
