#pragma once
// Element names of the SOAP texts the simulator reads: prefixes differ from sender to sender,
// so elements are matched on their namespace URI and local name.

#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace lanrove::camsim::soap {

inline constexpr std::string_view kEnvelopeNs = "http://www.w3.org/2003/05/soap-envelope";
inline constexpr std::string_view kAddressingNs =
    "http://schemas.xmlsoap.org/ws/2004/08/addressing";
inline constexpr std::string_view kDiscoveryNs = "http://schemas.xmlsoap.org/ws/2005/04/discovery";
inline constexpr std::string_view kNetworkNs = "http://www.onvif.org/ver10/network/wsdl";
inline constexpr std::string_view kDeviceNs = "http://www.onvif.org/ver10/device/wsdl";
inline constexpr std::string_view kSchemaNs = "http://www.onvif.org/ver10/schema";
inline constexpr std::string_view kErrorNs = "http://www.onvif.org/ver10/error";
inline constexpr std::string_view kDevProfNs = "http://schemas.xmlsoap.org/ws/2006/02/devprof";
inline constexpr std::string_view kPrintNs =
    "http://schemas.microsoft.com/windows/2006/08/wdp/print";

inline std::string_view prefixOf(std::string_view qname) {
    const auto colon = qname.find(':');
    return colon == std::string_view::npos ? std::string_view() : qname.substr(0, colon);
}

inline std::string_view localOf(std::string_view qname) {
    const auto colon = qname.find(':');
    return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

// The URI `prefix` stands for at `node` (empty prefix: the default namespace).
inline bool namespaceOf(pugi::xml_node node, std::string_view prefix, std::string& uri) {
    const std::string attr = prefix.empty() ? "xmlns" : "xmlns:" + std::string(prefix);
    for (pugi::xml_node n = node; n; n = n.parent()) {
        if (n.type() != pugi::node_element) continue;
        if (const pugi::xml_attribute a = n.attribute(attr.c_str())) {
            uri = a.value();
            return true;
        }
    }
    return false;
}

inline bool is(pugi::xml_node node, std::string_view ns, std::string_view local) {
    if (node.type() != pugi::node_element) return false;
    const std::string_view name = node.name();
    if (localOf(name) != local) return false;
    std::string uri;
    return namespaceOf(node, prefixOf(name), uri) && uri == ns;
}

inline pugi::xml_node child(pugi::xml_node node, std::string_view ns, std::string_view local) {
    for (pugi::xml_node c : node.children())
        if (is(c, ns, local)) return c;
    return {};
}

inline pugi::xml_node firstElement(pugi::xml_node node) {
    for (pugi::xml_node c : node.children())
        if (c.type() == pugi::node_element) return c;
    return {};
}

// Parse options for outside SOAP texts: no processing instructions, no DOCTYPE expansion.
inline constexpr unsigned kParseOptions = pugi::parse_default & ~pugi::parse_pi;

}  // namespace lanrove::camsim::soap
