#include "QuibHost/Reach/UPnPGateway.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "QuibHost/Reach/Wire/UPnPWire.hpp"
#include "Runtime/FileDescriptor.hpp"
#include "Tests/QuibHost/Reach/CapturedLog.hpp"
#include "Tests/QuibHost/Reach/ScriptedPoster.hpp"
#include "Tests/Support/FakeRouter.hpp"
#include "Tests/Support/LateCancel.hpp"
#include "Tests/Support/UPnPTexts.hpp"

namespace quib {
namespace {

using namespace std::chrono_literals;
using namespace testing;
using Mapping = PortMapper::Mapping;
using Control = UPnPGateway::Control;

constexpr std::uint16_t awayPort = 61423;
const UDPExchange::Interface loopback{"lo", "127.0.0.1"};

// A TCP port on 127.0.0.1 that takes connections, for the local-address probe to reach.
class Listener {
public:
    Listener() : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(socket_.get(), 64) != 0 ||
            ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "no listening port";
        }
        port = ntohs(address.sin_port);
    }
    std::uint16_t port = 0;

private:
    FileDescriptor socket_;
};

// The action a SOAP request calls.
std::string actionOf(const HttpRequest& request) {
    for (const auto& [name, value] : request.headers) {
        if (name == "SOAPAction") return value.substr(value.find('#') + 1, value.size() - value.find('#') - 2);
    }
    return {};
}

std::vector<std::string> actions(const std::vector<HttpRequest>& requests) {
    std::vector<std::string> found;
    for (const auto& request : requests)
        found.push_back(request.method == HttpRequest::Method::get ? "GET" : actionOf(request));
    return found;
}

// The router's HTTP side: its description ("{port}" stands for the port it is served on), and an
// answer per call.
struct RouterScript {
    std::string description = gatewayDescription(upnpService(wanIP1, "/ctl/IP1") + upnpService(wanIP2, "/ctl/IP2"));
    std::function<std::optional<HttpResponse>(const std::string& action, int call)> soap =
        [](const std::string& action, int) -> std::optional<HttpResponse> {
        if (action == "GetExternalIPAddress")
            return ScriptedPoster::answer(200, externalAddressAnswer(wanIP2, "203.0.113.9"));
        return ScriptedPoster::answer(200, soapAnswer(action, wanIP2));
    };
    // Holds the description back instead of answering.
    bool holdDescription = false;
};

// A gateway whose search reaches a responder on 127.0.0.1 that points at the description.
struct Rig {
    explicit Rig(RouterScript script = {}, Duration window = 100ms)
        : responder([this](const Bytes&) -> std::vector<FakeRouter::Answer> {
              const std::string answer = ssdpAnswer(base() + "/rootDesc.xml");
              return {{Bytes(answer.begin(), answer.end())}};
          }),
          poster(std::make_shared<ScriptedPoster>()),
          gateway({poster, timings(window), {"127.0.0.1", responder.port()}}) {
        auto description = script.description;
        for (auto at = description.find("{port}"); at != std::string::npos; at = description.find("{port}")) {
            description.replace(at, 6, std::to_string(listener.port));
        }
        poster->setScript(
            [script = std::move(script), description, calls = std::make_shared<int>(0)](const HttpRequest& request) {
                if (request.method == HttpRequest::Method::get) {
                    if (script.holdDescription) return std::optional<HttpResponse>();
                    return std::optional(ScriptedPoster::answer(200, description));
                }
                return script.soap(actionOf(request), (*calls)++);
            });
    }

    static ReachTimings timings(Duration window) {
        ReachTimings t;
        t.ssdpWindow = window;
        t.http = 2s;
        t.localAddressProbe = 1s;
        return t;
    }

    std::string base() const { return "http://127.0.0.1:" + std::to_string(listener.port); }
    std::optional<Mapping> map(const CancelToken& cancel = CancelToken()) {
        return gateway.map(awayPort, 7200, loopback, cancel);
    }
    std::size_t searches() const { return responder.requests().size(); }

    Listener listener;
    FakeRouter responder;
    std::shared_ptr<ScriptedPoster> poster;
    UPnPGateway gateway;
};

std::optional<HttpResponse> refusal(std::string_view faultString, std::string_view detail = {}) {
    return ScriptedPoster::answer(500, soapFault(faultString, detail));
}

TEST(UPnPGateway, MapsThroughTheMostWantedServiceAndKeepsIt) {
    CapturedLog log;
    Rig rig;
    EXPECT_EQ(rig.map(), (Mapping{"203.0.113.9", awayPort, 7200, "UPnP"}));
    const std::string control = rig.base() + "/ctl/IP2";
    EXPECT_EQ(rig.gateway.control(), (Control{control, std::string(wanIP2), "127.0.0.1"}));
    EXPECT_TRUE(log.contains("away: UPnP gateway at " + control));
    EXPECT_TRUE(log.contains("away: UPnP mapped 61423 for 7200s"));

    const auto requests = rig.poster->requests();
    ASSERT_EQ(actions(requests), (std::vector<std::string>{"GET", "AddPortMapping", "GetExternalIPAddress"}));
    EXPECT_EQ(requests[0].url, rig.base() + "/rootDesc.xml");
    for (const auto& request : requests) {
        EXPECT_FALSE(request.followRedirects);
        EXPECT_FALSE(request.httpsAllowed);
        EXPECT_FALSE(request.environmentProxy);
        EXPECT_EQ(request.responseLimit, 1024u * 1024u);
        EXPECT_TRUE(request.failBeyondLimit);
        EXPECT_TRUE(request.cancel);
    }
    const HttpRequest& add = requests[1];
    EXPECT_EQ(add.url, control);
    EXPECT_EQ(add.headers, (std::vector<std::pair<std::string, std::string>>{
                               {"Content-Type", "text/xml; charset=\"utf-8\""},
                               {"SOAPAction", "\"urn:schemas-upnp-org:service:WANIPConnection:2#AddPortMapping\""},
                               {"Expect", ""}}));
    EXPECT_EQ(add.body, UPnPWire::soapBody(wanIP2, "AddPortMapping",
                                           UPnPWire::addPortMappingArguments(awayPort, "127.0.0.1", 7200)));
    EXPECT_NE(add.body.find("<NewInternalClient>127.0.0.1</NewInternalClient>"), std::string::npos);

    // The gateway found is asked again without a new search.
    EXPECT_TRUE(rig.map());
    EXPECT_EQ(rig.searches(), 3u);
    EXPECT_EQ(rig.poster->requests().size(), 5u);
}

TEST(UPnPGateway, TakesTheFirstServiceTypeWhoseControlURLStaysOnTheGateway) {
    RouterScript pppOnly;
    pppOnly.description = gatewayDescription(upnpService(wanPPP1, "/ctl/PPP"));
    Rig ppp(pppOnly);
    EXPECT_TRUE(ppp.map());
    EXPECT_EQ(ppp.gateway.control(), (Control{ppp.base() + "/ctl/PPP", std::string(wanPPP1), "127.0.0.1"}));

    // Another host, another scheme, or a port nothing listens on: the next type is tried.
    RouterScript elsewhere;
    elsewhere.description = gatewayDescription(upnpService(wanIP2, "http://127.0.0.2:{port}/ctl/IP2") +
                                               upnpService(wanIP1, "https://127.0.0.1:{port}/ctl/IP1") +
                                               upnpService(wanPPP1, "//127.0.0.1:{port}/ctl/PPP"));
    Rig skipping(elsewhere);
    EXPECT_TRUE(skipping.map());
    EXPECT_EQ(skipping.gateway.control()->url, skipping.base() + "/ctl/PPP");
    EXPECT_EQ(actions(skipping.poster->requests()),
              (std::vector<std::string>{"GET", "AddPortMapping", "GetExternalIPAddress"}));
}

TEST(UPnPGateway, FindsNoGatewayInAnUnusableDescription) {
    const std::vector<std::optional<HttpResponse>> answers{
        ScriptedPoster::answer(302, gatewayDescription(upnpService(wanIP1, "/ctl/IP1"))),
        ScriptedPoster::answer(200, "\xFF" + gatewayDescription(upnpService(wanIP1, "/ctl/IP1"))),
        ScriptedPoster::answer(200, "<root><service><serviceType>" + std::string(wanIP1) + "</serviceType>"),
        ScriptedPoster::answer(200, gatewayDescription(upnpService(wanIP1, "http://127.0.0.1:1/ctl/IP1"))),
        HttpResponse{"the answer is longer than 1048576 bytes", 0, {}},
    };
    for (const auto& answer : answers) {
        Rig rig;
        rig.poster->setScript([answer](const HttpRequest&) { return answer; });
        EXPECT_FALSE(rig.map());
        EXPECT_EQ(actions(rig.poster->requests()), std::vector<std::string>{"GET"}) << answer->body;
    }
}

TEST(UPnPGateway, LogsEachRefusalAndSearchesAgainAfterBothAttemptsFail) {
    CapturedLog log;
    RouterScript refusing;
    refusing.soap = [](const std::string&, int call) {
        return call == 0 ? refusal("UPnPError", upnpError(725, "OnlyPermanentLeasesSupported"))
                         : refusal("Not authorized");
    };
    Rig rig(refusing);
    EXPECT_FALSE(rig.map());
    EXPECT_TRUE(log.contains("away: UPnP AddPortMapping failed 500 OnlyPermanentLeasesSupported"));
    EXPECT_TRUE(log.contains("away: UPnP AddPortMapping failed 500 Not authorized"));
    EXPECT_EQ(actions(rig.poster->requests()), (std::vector<std::string>{"GET", "AddPortMapping", "AddPortMapping"}));
    EXPECT_FALSE(rig.gateway.control());

    EXPECT_FALSE(rig.map());
    EXPECT_EQ(rig.searches(), 6u);
}

TEST(UPnPGateway, MapsWithoutALeaseWhenTheRouterRefusesALeasedOne) {
    CapturedLog log;
    RouterScript permanentOnly;
    permanentOnly.soap = [](const std::string& action, int call) -> std::optional<HttpResponse> {
        if (call == 0) return refusal("UPnPError", upnpError(725, "OnlyPermanentLeasesSupported"));
        if (action == "GetExternalIPAddress")
            return ScriptedPoster::answer(200, externalAddressAnswer(wanIP2, "10.0.0.1"));
        return ScriptedPoster::answer(200, soapAnswer(action, wanIP2));
    };
    Rig rig(permanentOnly);
    EXPECT_EQ(rig.map(), (Mapping{std::nullopt, awayPort, 7200, "UPnP"}));
    EXPECT_TRUE(log.contains("away: UPnP mapped 61423 with no lease — the router refused a leased one"));
    const auto requests = rig.poster->requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[2].body, UPnPWire::soapBody(wanIP2, "AddPortMapping",
                                                   UPnPWire::addPortMappingArguments(awayPort, "127.0.0.1", 0)));
}

TEST(UPnPGateway, HandsOnOnlyAPublicAddressItCanUse) {
    const std::vector<std::pair<std::optional<HttpResponse>, std::optional<std::string>>> answers{
        {ScriptedPoster::answer(200, externalAddressAnswer(wanIP2, " 203.0.113.9 \r\n")), "203.0.113.9"},
        {ScriptedPoster::answer(200, externalAddressAnswer(wanIP2, "192.168.0.1")), std::nullopt},
        {ScriptedPoster::answer(200, externalAddressAnswer(wanIP2, "100.64.7.1")), std::nullopt},
        {ScriptedPoster::answer(200, externalAddressAnswer(wanIP2, "0.0.0.0")), std::nullopt},
        {ScriptedPoster::answer(200, externalAddressAnswer(wanIP2, "")), std::nullopt},
        {ScriptedPoster::answer(200, externalAddressAnswer(wanIP2, "not-an-address")), std::nullopt},
        {ScriptedPoster::answer(200, "203.0.113.9"), std::nullopt},
        {refusal("UPnPError", upnpError(501, "ActionFailed")), std::nullopt},
    };
    for (const auto& [answer, expected] : answers) {
        RouterScript script;
        script.soap = [answer = answer](const std::string& action, int) -> std::optional<HttpResponse> {
            if (action == "GetExternalIPAddress") return answer;
            return ScriptedPoster::answer(200, soapAnswer(action, wanIP2));
        };
        Rig rig(script);
        EXPECT_EQ(rig.map(), (Mapping{expected, awayPort, 7200, "UPnP"})) << answer->body;
    }
}

// The gateway lets any computer delete any entry: the port's entry is asked for first, and only
// one that forwards to this host (127.0.0.1 here) is deleted.
TEST(UPnPGateway, UnmapsOnlyItsOwnEntrySearchingWhenNoGatewayIsKept) {
    struct Case {
        std::string name;
        std::optional<HttpResponse> entry;
        std::vector<std::string> actions;
    };
    const auto entryFor = [](std::string_view client) {
        return ScriptedPoster::answer(
            200, soapAnswer("GetSpecificPortMappingEntry", wanIP2,
                            "<NewInternalPort>61423</NewInternalPort><NewInternalClient>" + std::string(client) +
                                "</NewInternalClient><NewEnabled>1</NewEnabled>"));
    };
    const std::vector<std::string> asked{"GET", "GetSpecificPortMappingEntry"};
    const std::vector<Case> cases{
        {"this host's", entryFor("127.0.0.1"), {"GET", "GetSpecificPortMappingEntry", "DeletePortMapping"}},
        {"another computer's", entryFor("192.168.1.30"), asked},
        {"none", refusal("UPnPError", upnpError(714, "NoSuchEntryInArray")), asked},
        {"one the gateway will not describe", ScriptedPoster::answer(200, "<not xml"), asked},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CapturedLog log;
        RouterScript script;
        script.soap = [&c](const std::string& action, int) -> std::optional<HttpResponse> {
            if (action == "GetSpecificPortMappingEntry") return c.entry;
            return refusal("UPnPError", upnpError(714, "NoSuchEntryInArray"));
        };
        Rig rig(script);
        rig.gateway.unmap(awayPort, loopback, CancelToken());
        const auto requests = rig.poster->requests();
        ASSERT_EQ(actions(requests), c.actions);
        EXPECT_EQ(requests[1].body, UPnPWire::soapBody(wanIP2, "GetSpecificPortMappingEntry",
                                                       UPnPWire::portMappingEntryArguments(awayPort)));
        if (c.actions.size() == 3) {
            EXPECT_EQ(requests[2].body,
                      UPnPWire::soapBody(wanIP2, "DeletePortMapping", UPnPWire::deletePortMappingArguments(awayPort)));
        }
        if (c.name == "another computer's") {
            EXPECT_TRUE(log.contains("away: UPnP leaves port 61423 alone: it forwards to 192.168.1.30"));
        }
        EXPECT_TRUE(rig.gateway.control());
        rig.gateway.unmap(awayPort, loopback, CancelToken());
        EXPECT_EQ(rig.searches(), 3u) << "the kept gateway was searched for again";
    }
}

TEST(UPnPGateway, ACancelEndsTheCallAtOnceAndNothingMoreIsSent) {
    Rig searching({}, 10s);
    LateCancel duringSearch(50ms);
    EXPECT_FALSE(searching.map(duringSearch.token));
    EXPECT_LT(duringSearch.lingered(), 100ms);
    EXPECT_TRUE(searching.poster->requests().empty());

    RouterScript held;
    held.holdDescription = true;
    Rig describing(held);
    LateCancel duringDescription(300ms);
    EXPECT_FALSE(describing.map(duringDescription.token));
    EXPECT_LT(duringDescription.lingered(), 100ms);
    const auto requests = describing.poster->requests();
    ASSERT_EQ(actions(requests), std::vector<std::string>{"GET"});
    EXPECT_EQ(requests[0].cancel, duringDescription.token);

    // A kept gateway is not forgotten for a cancel, and is sent nothing once cancelled.
    Rig kept;
    ASSERT_TRUE(kept.map());
    CancelToken cancelled;
    cancelled.cancel();
    EXPECT_FALSE(kept.map(cancelled));
    kept.gateway.unmap(awayPort, loopback, cancelled);
    EXPECT_EQ(kept.poster->requests().size(), 3u);
    EXPECT_TRUE(kept.gateway.control());
}

TEST(UPnPGateway, ProbesTheLocalAddressOnTheControlURLsPortOrPort80) {
    EXPECT_EQ(UPnPGateway::probeEndpoint({"http://10.0.0.1/ctl", "http", "10.0.0.1", std::nullopt}),
              (UDPExchange::Endpoint{"10.0.0.1", 80}));
    EXPECT_EQ(UPnPGateway::probeEndpoint({"http://10.0.0.1:5000/ctl", "http", "10.0.0.1", 5000}),
              (UDPExchange::Endpoint{"10.0.0.1", 5000}));
    EXPECT_EQ(UPnPGateway::probeEndpoint({"http://[fe80::1]/ctl", "http", "[fe80::1]", std::nullopt}),
              (UDPExchange::Endpoint{"fe80::1", 80}));
    // Port 0 is no port: libcurl's reading of a URL with it gives none.
    const auto zero = CurlPoster::resolveUrl({}, "http://10.0.0.1:0/ctl");
    ASSERT_TRUE(zero);
    EXPECT_EQ(UPnPGateway::probeEndpoint(*zero).port, 80);

    Listener listener;
    EXPECT_EQ(UPnPGateway::localAddress({"127.0.0.1", listener.port}, 1s, CancelToken()), "127.0.0.1");
    std::uint16_t closedPort = 0;
    {
        Listener gone;
        closedPort = gone.port;
    }
    EXPECT_FALSE(UPnPGateway::localAddress({"127.0.0.1", closedPort}, 1s, CancelToken()));
    EXPECT_FALSE(UPnPGateway::localAddress({"localhost", listener.port}, 1s, CancelToken())) << "no name is looked up";
    CancelToken cancelled;
    cancelled.cancel();
    EXPECT_FALSE(UPnPGateway::localAddress({"127.0.0.1", listener.port}, 1s, cancelled));
}

}  // namespace
}  // namespace quib
