#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quib {

// The texts of port mapping through a UPnP Internet Gateway Device: the SSDP search and its
// answers, the device description, and the SOAP calls with their answers. Free of state and safe
// on any thread.
//
// XML is read with pugixml as hostile input: no entity of a document type is expanded (only
// XML's own five and character references), nothing outside the text is read, and trees are
// walked without recursion, so any depth of nesting is safe. Elements are matched by their local
// name, whatever their prefix, and their text is trimmed of white space and line ends.
struct UPnPWire {
    // What the search asks for, in the order the messages go out.
    static constexpr std::array<std::string_view, 3> searchTargets{
        "urn:schemas-upnp-org:service:WANIPConnection:1",
        "urn:schemas-upnp-org:service:WANIPConnection:2",
        "urn:schemas-upnp-org:device:InternetGatewayDevice:1",
    };
    // The services that map ports, the most wanted first.
    static constexpr std::array<std::string_view, 3> serviceTypes{
        "urn:schemas-upnp-org:service:WANIPConnection:2",
        "urn:schemas-upnp-org:service:WANIPConnection:1",
        "urn:schemas-upnp-org:service:WANPPPConnection:1",
    };
    static constexpr std::string_view soapContentType = "text/xml; charset=\"utf-8\"";

    // One `service` element of a device description.
    struct Service {
        std::string type;
        std::string controlURL;
        bool operator==(const Service&) const = default;
    };

    UPnPWire() = delete;

    // The M-SEARCH message for one search target.
    static std::string searchMessage(std::string_view target);
    // The value of the first header called `name`, in any letter case, of an HTTP-style message,
    // trimmed of spaces and tabs. Lines end at CR LF or a lone LF; a line without a colon is no
    // header.
    static std::optional<std::string> header(std::string_view name, std::string_view message);

    // Every `service` element of a device description with its `serviceType` and `controlURL`
    // children, in document order; nothing when the description is not well-formed XML.
    static std::optional<std::vector<Service>> services(std::string_view description);
    // The control URL of the first service of `type` that names one.
    static std::optional<std::string> controlURL(std::string_view type, const std::vector<Service>& services);

    // The SOAPAction header's value: the service type, "#" and the action, in double quotes.
    static std::string soapAction(std::string_view serviceType, std::string_view action);
    // The whole body of a call, the arguments written in as they are.
    static std::string soapBody(std::string_view serviceType, std::string_view action, std::string_view arguments);
    // The arguments of AddPortMapping: the TCP port outside and inside alike, for `lease` seconds
    // (0: no lease).
    static std::string addPortMappingArguments(std::uint16_t port, std::string_view internalClient,
                                               std::uint32_t lease);
    static std::string deletePortMappingArguments(std::uint16_t port);
    // The arguments of GetSpecificPortMappingEntry for the TCP port outside.
    static std::string portMappingEntryArguments(std::uint16_t port);

    // The text of the first element called `name` in an XML answer; nothing when there is none or
    // the answer is not well-formed XML.
    static std::optional<std::string> elementText(std::string_view name, std::string_view xml);
    // Why a SOAP call failed: the answer's `errorDescription`, else its `faultstring`, else empty.
    static std::string faultText(std::string_view answer);
};

}  // namespace quib
