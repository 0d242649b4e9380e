#include "QuibHost/Reach/Wire/UPnPWire.hpp"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <memory>

namespace quib {
namespace {

constexpr std::string_view spacesAndTabs = " \t";
constexpr std::string_view whiteSpace = " \t\r\n\v\f";

std::string_view trimmed(std::string_view text, std::string_view junk) {
    const auto first = text.find_first_not_of(junk);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(junk) - first + 1);
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

std::string_view localName(const pugi::xml_node& node) {
    const std::string_view name = node.name();
    const auto colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

bool isElement(const pugi::xml_node& node, std::string_view name) {
    return node.type() == pugi::node_element && localName(node) == name;
}

// The element's own text (its character data and CDATA children, not its descendants'), trimmed.
std::string textOf(const pugi::xml_node& element) {
    std::string text;
    for (const pugi::xml_node& child : element.children()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) text += child.value();
    }
    return std::string(trimmed(text, whiteSpace));
}

std::string childText(const pugi::xml_node& parent, std::string_view name) {
    for (const pugi::xml_node& child : parent.children()) {
        if (isElement(child, name)) return textOf(child);
    }
    return {};
}

// The text as a document, or nothing when it is not well-formed XML. The default options read
// no document type and expand only XML's own entities; an unknown reference stays as it is.
std::unique_ptr<pugi::xml_document> parsed(std::string_view xml) {
    auto document = std::make_unique<pugi::xml_document>();
    const auto result = document->load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!result) return nullptr;
    return document;
}

// Calls `visit` for every element of the document in document order, until it answers false.
template <class Visit>
void forEachElement(pugi::xml_document& document, Visit visit) {
    struct Walker final : pugi::xml_tree_walker {
        explicit Walker(Visit& v) : visit(v) {}
        bool for_each(pugi::xml_node& node) override { return node.type() != pugi::node_element || visit(node); }
        Visit& visit;
    } walker(visit);
    document.traverse(walker);
}

}  // namespace

std::string UPnPWire::searchMessage(std::string_view target) {
    std::string message =
        "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 2\r\nST: ";
    message += target;
    message += "\r\n\r\n";
    return message;
}

std::optional<std::string> UPnPWire::header(std::string_view name, std::string_view message) {
    while (!message.empty()) {
        const auto end = message.find('\n');
        std::string_view line = message.substr(0, end);
        message.remove_prefix(end == std::string_view::npos ? message.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        if (equalIgnoringCase(trimmed(line.substr(0, colon), spacesAndTabs), name)) {
            return std::string(trimmed(line.substr(colon + 1), spacesAndTabs));
        }
    }
    return std::nullopt;
}

std::optional<std::vector<UPnPWire::Service>> UPnPWire::services(std::string_view description) {
    const auto document = parsed(description);
    if (!document) return std::nullopt;
    std::vector<Service> found;
    forEachElement(*document, [&found](const pugi::xml_node& element) {
        if (localName(element) == "service") {
            found.push_back({childText(element, "serviceType"), childText(element, "controlURL")});
        }
        return true;
    });
    return found;
}

std::optional<std::string> UPnPWire::controlURL(std::string_view type, const std::vector<Service>& services) {
    const auto match = std::find_if(services.begin(), services.end(), [type](const Service& service) {
        return service.type == type && !service.controlURL.empty();
    });
    if (match == services.end()) return std::nullopt;
    return match->controlURL;
}

std::string UPnPWire::soapAction(std::string_view serviceType, std::string_view action) {
    std::string value = "\"";
    value += serviceType;
    value += "#";
    value += action;
    value += "\"";
    return value;
}

std::string UPnPWire::soapBody(std::string_view serviceType, std::string_view action, std::string_view arguments) {
    std::string body =
        "<?xml version=\"1.0\"?>\n<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:";
    body += action;
    body += " xmlns:u=\"";
    body += serviceType;
    body += "\">";
    body += arguments;
    body += "</u:";
    body += action;
    body += "></s:Body></s:Envelope>";
    return body;
}

std::string UPnPWire::addPortMappingArguments(std::uint16_t port, std::string_view internalClient,
                                              std::uint32_t lease) {
    const std::string number = std::to_string(port);
    std::string arguments = "<NewRemoteHost></NewRemoteHost><NewExternalPort>" + number +
                            "</NewExternalPort><NewProtocol>TCP</NewProtocol><NewInternalPort>" + number +
                            "</NewInternalPort><NewInternalClient>";
    arguments += internalClient;
    arguments +=
        "</NewInternalClient><NewEnabled>1</NewEnabled>"
        "<NewPortMappingDescription>Quib</NewPortMappingDescription><NewLeaseDuration>" +
        std::to_string(lease) + "</NewLeaseDuration>";
    return arguments;
}

std::string UPnPWire::deletePortMappingArguments(std::uint16_t port) { return portMappingEntryArguments(port); }

std::string UPnPWire::portMappingEntryArguments(std::uint16_t port) {
    return "<NewRemoteHost></NewRemoteHost><NewExternalPort>" + std::to_string(port) +
           "</NewExternalPort><NewProtocol>TCP</NewProtocol>";
}

std::optional<std::string> UPnPWire::elementText(std::string_view name, std::string_view xml) {
    const auto document = parsed(xml);
    if (!document) return std::nullopt;
    std::optional<std::string> text;
    forEachElement(*document, [&](const pugi::xml_node& element) {
        if (localName(element) == name) text = textOf(element);
        return !text;
    });
    return text;
}

std::string UPnPWire::faultText(std::string_view answer) {
    const auto document = parsed(answer);
    if (!document) return {};
    std::optional<std::string> description;
    std::optional<std::string> faultString;
    forEachElement(*document, [&](const pugi::xml_node& element) {
        if (localName(element) == "errorDescription") description = textOf(element);
        if (localName(element) == "faultstring" && !faultString) faultString = textOf(element);
        return !description;
    });
    return description.value_or(faultString.value_or(""));
}

}  // namespace quib
