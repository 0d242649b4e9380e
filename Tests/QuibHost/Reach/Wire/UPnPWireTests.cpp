#include "QuibHost/Reach/Wire/UPnPWire.hpp"

#include <gtest/gtest.h>

#include <chrono>

#include "Tests/Support/UPnPTexts.hpp"

namespace quib {
namespace {

using namespace testing;
using Service = UPnPWire::Service;

std::optional<std::string> controlURL(std::string_view type, std::string_view description) {
    const auto services = UPnPWire::services(description);
    if (!services) return std::nullopt;
    return UPnPWire::controlURL(type, *services);
}

TEST(UPnPWire, SearchesForTheTwoConnectionServicesThenTheGatewayDevice) {
    std::vector<std::string> messages;
    for (const auto target : UPnPWire::searchTargets) messages.push_back(UPnPWire::searchMessage(target));
    EXPECT_EQ(messages, (std::vector<std::string>{
                            "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 2\r\n"
                            "ST: urn:schemas-upnp-org:service:WANIPConnection:1\r\n\r\n",
                            "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 2\r\n"
                            "ST: urn:schemas-upnp-org:service:WANIPConnection:2\r\n\r\n",
                            "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 2\r\n"
                            "ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n\r\n",
                        }));
}

TEST(UPnPWire, ReadsAHeaderByItsNameInAnyCaseTrimmingSpacesAndTabsOnly) {
    const std::string answer = ssdpAnswer("http://10.0.0.1:5000/rootDesc.xml");
    EXPECT_EQ(UPnPWire::header("LOCATION", answer), "http://10.0.0.1:5000/rootDesc.xml");
    EXPECT_EQ(UPnPWire::header("Location", "HTTP/1.1 200 OK\r\nlocation: \t http://10.0.0.1/d.xml \t\r\n\r\n"),
              "http://10.0.0.1/d.xml");
    // Lone line feeds end lines too, and no carriage return is left in the value.
    EXPECT_EQ(UPnPWire::header("LOCATION", "HTTP/1.1 200 OK\nST: x\nLOCATION: http://10.0.0.1/d.xml\n\n"),
              "http://10.0.0.1/d.xml");
    EXPECT_EQ(UPnPWire::header("LOCATION", "LOCATION: first\r\nLOCATION: second\r\n"), "first");
    EXPECT_EQ(UPnPWire::header("EXT", answer), "");
    EXPECT_FALSE(UPnPWire::header("LOCATION", "HTTP/1.1 200 OK\r\nLOCATION http://10.0.0.1/d.xml\r\n\r\n"));
    EXPECT_FALSE(UPnPWire::header("LOCATION", "HTTP/1.1 200 OK\r\nST: upnp:rootdevice\r\n\r\n"));
    EXPECT_FALSE(UPnPWire::header("LOCATION", "X-LOCATION: http://10.0.0.1/\r\n"));
    EXPECT_FALSE(UPnPWire::header("LOCATION", ""));
}

TEST(UPnPWire, WritesTheAddPortMappingCallByteForByte) {
    const std::string arguments = UPnPWire::addPortMappingArguments(61423, "192.168.1.20", 7200);
    EXPECT_EQ(UPnPWire::soapBody(wanIP2, "AddPortMapping", arguments),
              "<?xml version=\"1.0\"?>\n"
              "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
              "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>"
              "<u:AddPortMapping xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:2\">"
              "<NewRemoteHost></NewRemoteHost><NewExternalPort>61423</NewExternalPort><NewProtocol>TCP</NewProtocol>"
              "<NewInternalPort>61423</NewInternalPort><NewInternalClient>192.168.1.20</NewInternalClient>"
              "<NewEnabled>1</NewEnabled><NewPortMappingDescription>Quib</NewPortMappingDescription>"
              "<NewLeaseDuration>7200</NewLeaseDuration>"
              "</u:AddPortMapping></s:Body></s:Envelope>");
    EXPECT_EQ(UPnPWire::soapAction(wanIP2, "AddPortMapping"),
              "\"urn:schemas-upnp-org:service:WANIPConnection:2#AddPortMapping\"");
    EXPECT_EQ(UPnPWire::soapContentType, "text/xml; charset=\"utf-8\"");
    EXPECT_TRUE(
        UPnPWire::addPortMappingArguments(80, "10.0.0.2", 0).ends_with("<NewLeaseDuration>0</NewLeaseDuration>"));
    EXPECT_EQ(UPnPWire::deletePortMappingArguments(61423),
              "<NewRemoteHost></NewRemoteHost><NewExternalPort>61423</NewExternalPort><NewProtocol>TCP</NewProtocol>");
    EXPECT_EQ(UPnPWire::soapBody(wanIP1, "GetExternalIPAddress", ""),
              "<?xml version=\"1.0\"?>\n"
              "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
              "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>"
              "<u:GetExternalIPAddress xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:1\">"
              "</u:GetExternalIPAddress></s:Body></s:Envelope>");
}

TEST(UPnPWire, FindsEachServiceTypesControlURLWhereverTheServiceIsNested) {
    const std::string both = gatewayDescription(upnpService(wanIP1, "/ctl/IP1") + upnpService(wanIP2, "/ctl/IP2"));
    EXPECT_EQ(controlURL(wanIP2, both), "/ctl/IP2");
    EXPECT_EQ(controlURL(wanIP1, both), "/ctl/IP1");
    EXPECT_FALSE(controlURL(wanPPP1, both));
    EXPECT_EQ(controlURL(wanPPP1, gatewayDescription(upnpService(wanPPP1, "/ctl/PPP"))), "/ctl/PPP");
    const auto services = UPnPWire::services(both);
    ASSERT_TRUE(services);
    EXPECT_EQ(services->size(), 3u);
    EXPECT_EQ(services->front(), (Service{"urn:schemas-upnp-org:service:WANCommonInterfaceConfig:1", "/ctl/CmnIfCfg"}));
}

// Where reading the text literally would go wrong, the XML reading does not.
TEST(UPnPWire, ReadsDescriptionsAsXml) {
    // A prefix, attributes, line ends around the text, an entity in the URL.
    EXPECT_EQ(
        controlURL(wanIP1, "<d:root xmlns:d=\"urn:x\"><d:service id=\"1\"><d:serviceType>\r\n  " + std::string(wanIP1) +
                               " \n</d:serviceType><d:controlURL a=\"b\">\n/ctl?a=1&amp;b=2\r\n</d:controlURL>"
                               "</d:service></d:root>"),
        "/ctl?a=1&b=2");
    // The type named anywhere but in `serviceType`, or only in a comment, is not that service.
    const std::string elsewhere = "<root><service><serviceType>x</serviceType><serviceId>" + std::string(wanIP1) +
                                  "</serviceId><controlURL>/wrong</controlURL></service><service><!-- " +
                                  std::string(wanIP1) + " --><controlURL>/wrong</controlURL></service></root>";
    EXPECT_FALSE(controlURL(wanIP1, elsewhere));
    // A service without a control URL gives way to the next one of its type.
    EXPECT_EQ(controlURL(wanIP1, "<root><service><serviceType>" + std::string(wanIP1) +
                                     "</serviceType><controlURL>  </controlURL></service>" +
                                     upnpService(wanIP1, "/ctl/second") + "</root>"),
              "/ctl/second");
    // Text that is not well-formed XML gives nothing, whatever it holds.
    EXPECT_FALSE(UPnPWire::services("<root>" + upnpService(wanIP1, "/ctl/IP1")));
    EXPECT_FALSE(UPnPWire::services("serviceType " + std::string(wanIP1) + " controlURL /ctl"));
    EXPECT_FALSE(UPnPWire::services(""));
}

TEST(UPnPWire, ExpandsNoEntityOfADocumentType) {
    std::string bomb = "<?xml version=\"1.0\"?>\n<!DOCTYPE root [\n<!ENTITY l0 \"" + std::string(wanIP1) + "\">\n";
    for (int level = 1; level <= 9; ++level) {
        bomb += "<!ENTITY l" + std::to_string(level) + " \"";
        for (int copy = 0; copy < 10; ++copy) bomb += "&l" + std::to_string(level - 1) + ";";
        bomb += "\">\n";
    }
    bomb +=
        "<!ENTITY outside SYSTEM \"file:///etc/passwd\">\n]>\n<root><service><serviceType>&l9;</serviceType>"
        "<controlURL>&outside;</controlURL></service>" +
        upnpService(wanIP2, "/ctl/IP2") + "</root>";
    const auto services = UPnPWire::services(bomb);
    ASSERT_TRUE(services);
    ASSERT_EQ(services->size(), 2u);
    EXPECT_EQ(services->front(), (Service{"&l9;", "&outside;"}));
    EXPECT_FALSE(UPnPWire::controlURL(wanIP1, *services));
    EXPECT_EQ(UPnPWire::controlURL(wanIP2, *services), "/ctl/IP2");
}

TEST(UPnPWire, SurvivesAMillionNestedElements) {
    constexpr int depth = 1'000'000;
    std::string deep;
    deep.reserve(depth * 7 + 100);
    for (int i = 0; i < depth; ++i) deep += "<a>";
    deep += "<service><serviceType>t</serviceType><controlURL>/c</controlURL></service>";
    for (int i = 0; i < depth; ++i) deep += "</a>";
    const auto started = std::chrono::steady_clock::now();
    const auto services = UPnPWire::services(deep);
    ASSERT_TRUE(services);
    EXPECT_EQ(*services, (std::vector<Service>{{"t", "/c"}}));
    EXPECT_EQ(UPnPWire::faultText(deep), "");
    EXPECT_FALSE(UPnPWire::elementText("NewExternalIPAddress", deep));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

TEST(UPnPWire, ReadsTheFaultTextAndTheExternalAddress) {
    EXPECT_EQ(UPnPWire::faultText(soapFault("UPnPError", upnpError(718, "ConflictInMappingEntry"))),
              "ConflictInMappingEntry");
    EXPECT_EQ(UPnPWire::faultText(soapFault("  Action not authorized\n")), "Action not authorized");
    EXPECT_EQ(UPnPWire::faultText("<x><errorCode>501</errorCode></x>"), "");
    EXPECT_EQ(UPnPWire::faultText("Internal Server Error"), "");
    EXPECT_EQ(UPnPWire::faultText(""), "");

    EXPECT_EQ(UPnPWire::elementText("NewExternalIPAddress", externalAddressAnswer(wanIP1, " 203.0.113.9\r\n")),
              "203.0.113.9");
    EXPECT_EQ(UPnPWire::elementText("NewExternalIPAddress", "<m:NewExternalIPAddress/>"), "");
    EXPECT_FALSE(UPnPWire::elementText("NewExternalIPAddress", soapAnswer("GetExternalIPAddress", wanIP1)));
    EXPECT_FALSE(UPnPWire::elementText("NewExternalIPAddress", "<NewExternalIPAddress>203.0.113.9"));
}

}  // namespace
}  // namespace quib
