#pragma once

#include <string>
#include <string_view>

namespace quib::testing {

inline constexpr std::string_view wanIP1 = "urn:schemas-upnp-org:service:WANIPConnection:1";
inline constexpr std::string_view wanIP2 = "urn:schemas-upnp-org:service:WANIPConnection:2";
inline constexpr std::string_view wanPPP1 = "urn:schemas-upnp-org:service:WANPPPConnection:1";

// One `service` element of a device description.
inline std::string upnpService(std::string_view type, std::string_view controlURL) {
    return "<service>\r\n  <serviceType>" + std::string(type) +
           "</serviceType>\r\n  <serviceId>urn:upnp-org:serviceId:" +
           std::string(type.substr(type.rfind(':', type.size() - 3) + 1)) + "</serviceId>\r\n  <controlURL>" +
           std::string(controlURL) +
           "</controlURL>\r\n  <eventSubURL>/evt</eventSubURL>\r\n  <SCPDURL>/scpd.xml</SCPDURL>\r\n</service>";
}

// A router's description as real ones nest it: the connection services inside the WAN
// connection device, beside the interface configuration of the WAN device.
inline std::string gatewayDescription(std::string_view connectionServices) {
    return R"(<?xml version="1.0"?>
<root xmlns="urn:schemas-upnp-org:device-1-0">
<specVersion><major>1</major><minor>0</minor></specVersion>
<device>
<deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType>
<friendlyName>Home router</friendlyName>
<deviceList><device>
<deviceType>urn:schemas-upnp-org:device:WANDevice:1</deviceType>
<serviceList>)" +
           upnpService("urn:schemas-upnp-org:service:WANCommonInterfaceConfig:1", "/ctl/CmnIfCfg") + R"(</serviceList>
<deviceList><device>
<deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</deviceType>
<serviceList>)" +
           std::string(connectionServices) + R"(</serviceList>
</device></deviceList>
</device></deviceList>
</device>
</root>
)";
}

// The answer to a SOAP call that worked, as a real gateway writes it.
inline std::string soapAnswer(std::string_view action, std::string_view type, std::string_view content = {}) {
    std::string answer =
        R"(<?xml version="1.0"?>)"
        "\r\n"
        R"(<s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" s:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body>)";
    answer += "<u:" + std::string(action) + "Response xmlns:u=\"" + std::string(type) + "\"";
    answer += content.empty() ? "/>" : ">" + std::string(content) + "</u:" + std::string(action) + "Response>";
    return answer + "</s:Body></s:Envelope>\r\n";
}

inline std::string externalAddressAnswer(std::string_view type, std::string_view address) {
    return soapAnswer("GetExternalIPAddress", type,
                      "<NewExternalIPAddress>" + std::string(address) + "</NewExternalIPAddress>");
}

// A SOAP fault; `detail` holds the UPnPError, when there is one.
inline std::string soapFault(std::string_view faultString, std::string_view detail = {}) {
    return R"(<?xml version="1.0"?>
<s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" s:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/">
<s:Body><s:Fault><faultcode>s:Client</faultcode><faultstring>)" +
           std::string(faultString) + "</faultstring><detail>" + std::string(detail) +
           "</detail></s:Fault></s:Body></s:Envelope>\r\n";
}

inline std::string upnpError(int code, std::string_view description) {
    return R"(<UPnPError xmlns="urn:schemas-upnp-org:control-1-0"><errorCode>)" + std::to_string(code) +
           "</errorCode><errorDescription>" + std::string(description) + "</errorDescription></UPnPError>";
}

// The answer to one search.
inline std::string ssdpAnswer(std::string_view location, std::string_view target = wanIP1) {
    return "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\nST: " + std::string(target) +
           "\r\nUSN: uuid:fake::" + std::string(target) +
           "\r\nEXT:\r\nSERVER: Linux UPnP/1.1 Router/1.0\r\nLOCATION: " + std::string(location) + "\r\n\r\n";
}

}  // namespace quib::testing
