// The UPnP gateway over libcurl against a router's HTTP side on 127.0.0.1.

#include <gtest/gtest.h>

#include "Platform/Linux/CurlPoster.hpp"
#include "QuibHost/Reach/UPnPGateway.hpp"
#include "QuibHost/Reach/Wire/UPnPWire.hpp"
#include "Tests/Integration/RelayStub.hpp"
#include "Tests/Support/FakeRouter.hpp"
#include "Tests/Support/LateCancel.hpp"
#include "Tests/Support/UPnPTexts.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using namespace testing;
using Mapping = PortMapper::Mapping;

constexpr std::uint16_t awayPort = 61423;
constexpr auto window = 100ms;

std::string actionOf(const RelayStub::Request& request) {
    const auto found = request.headers.find("soapaction");
    if (found == request.headers.end()) return request.method;
    const std::string& value = found->second;
    return value.substr(value.find('#') + 1, value.size() - value.find('#') - 2);
}

std::vector<std::string> actions(const std::vector<RelayStub::Request>& requests) {
    std::vector<std::string> found;
    for (const auto& request : requests) found.push_back(actionOf(request));
    return found;
}

// A router whose search answer points at its description on the stub.
class Router {
public:
    Router()
        : responder_([this](const Bytes&) -> std::vector<FakeRouter::Answer> {
              const std::string answer = ssdpAnswer(http.url("/rootDesc.xml"));
              return {{Bytes(answer.begin(), answer.end())}};
          }) {
        RelayStub::bypassProxies();
        http.respond([](const RelayStub::Request& request) {
            if (request.method == "GET") {
                return RelayStub::Reply::xml(
                    200, gatewayDescription(upnpService(wanIP1, "/ctl/IP1") + upnpService(wanIP2, "/ctl/IP2")));
            }
            const std::string action = actionOf(request);
            if (action == "GetExternalIPAddress")
                return RelayStub::Reply::xml(200, externalAddressAnswer(wanIP2, "203.0.113.9"));
            // The entry forwards to this host, so it is this host's to delete.
            if (action == "GetSpecificPortMappingEntry") {
                return RelayStub::Reply::xml(
                    200, soapAnswer(action, wanIP2,
                                    "<NewInternalPort>61423</NewInternalPort><NewInternalClient>127.0.0.1"
                                    "</NewInternalClient><NewEnabled>1</NewEnabled>"));
            }
            return RelayStub::Reply::xml(200, soapAnswer(action, wanIP2));
        });
    }

    UPnPGateway gateway() const {
        ReachTimings timings;
        timings.ssdpWindow = window;
        timings.http = 2s;
        timings.localAddressProbe = 1s;
        return UPnPGateway({poster_, timings, {"127.0.0.1", responder_.port()}});
    }

    RelayStub http;

private:
    FakeRouter responder_;
    std::shared_ptr<CurlPoster> poster_ = std::make_shared<CurlPoster>();
};

TEST(UPnPGateway, MapsAndUnmapsOverHttpWithNoHeaderButItsOwn) {
    Router router;
    auto gateway = router.gateway();
    EXPECT_EQ(gateway.map(awayPort, 7200, std::nullopt, CancelToken()),
              (Mapping{"203.0.113.9", awayPort, 7200, "UPnP"}));
    gateway.unmap(awayPort, std::nullopt, CancelToken());

    const auto requests = router.http.requests();
    ASSERT_EQ(actions(requests), (std::vector<std::string>{"GET", "AddPortMapping", "GetExternalIPAddress",
                                                           "GetSpecificPortMappingEntry", "DeletePortMapping"}));
    EXPECT_EQ(requests[0].path, "/rootDesc.xml");
    const auto& add = requests[1];
    EXPECT_EQ(add.method, "POST");
    EXPECT_EQ(add.path, "/ctl/IP2");
    std::vector<std::string> names;
    for (const auto& [name, value] : add.headers) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"accept", "content-length", "content-type", "host", "soapaction"}));
    EXPECT_EQ(add.headers.at("content-type"), "text/xml; charset=\"utf-8\"");
    EXPECT_EQ(add.headers.at("soapaction"), "\"urn:schemas-upnp-org:service:WANIPConnection:2#AddPortMapping\"");
    EXPECT_EQ(add.body, UPnPWire::soapBody(wanIP2, "AddPortMapping",
                                           UPnPWire::addPortMappingArguments(awayPort, "127.0.0.1", 7200)));
    EXPECT_EQ(requests[4].body,
              UPnPWire::soapBody(wanIP2, "DeletePortMapping", UPnPWire::deletePortMappingArguments(awayPort)));
}

TEST(UPnPGateway, FollowsNoRedirectAndReadsNoDescriptionOverItsLimit) {
    Router redirecting;
    redirecting.http.respond([&](const RelayStub::Request& request) {
        if (request.path == "/rootDesc.xml") return RelayStub::Reply::redirect("/real.xml", 302);
        return RelayStub::Reply::xml(200, gatewayDescription(upnpService(wanIP1, "/ctl/IP1")));
    });
    EXPECT_FALSE(redirecting.gateway().map(awayPort, 7200, std::nullopt, CancelToken()));
    EXPECT_EQ(redirecting.http.requests().size(), 1u);

    Router oversized;
    const std::string padding = "<!--" + std::string(UPnPGateway::maxAnswer, ' ') + "-->";
    oversized.http.respondAlways(
        RelayStub::Reply::xml(200, gatewayDescription(upnpService(wanIP1, "/ctl/IP1") + padding)));
    EXPECT_FALSE(oversized.gateway().map(awayPort, 7200, std::nullopt, CancelToken()));
    EXPECT_EQ(actions(oversized.http.requests()), std::vector<std::string>{"GET"});
}

TEST(UPnPGateway, ACancelWhileTheRouterHoldsItsDescriptionEndsTheCallAtOnce) {
    Router slow;
    slow.http.respond([](const RelayStub::Request& request) {
        if (request.method == "GET") {
            return RelayStub::Reply{200, gatewayDescription(upnpService(wanIP1, "/ctl/IP1")), std::nullopt, 1s};
        }
        return RelayStub::Reply::xml(200, soapAnswer(actionOf(request), wanIP1));
    });
    auto gateway = slow.gateway();
    LateCancel late(window + 200ms);
    EXPECT_FALSE(gateway.map(awayPort, 7200, std::nullopt, late.token));
    EXPECT_LT(late.lingered(), 100ms);
    EXPECT_FALSE(slow.http.waitForRequests(2, 1500ms)) << "no AddPortMapping after the cancel";
}

}  // namespace
}  // namespace quib
