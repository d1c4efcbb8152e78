#pragma once
// Element names of the SOAP texts the simulator reads: prefixes differ from sender to sender,
// so elements are matched on their namespace URI and local name.

#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "discovery/soap_names.h"

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

using lanrove::soap::child;
using lanrove::soap::is;
using lanrove::soap::load;
using lanrove::soap::Load;
using lanrove::soap::localOf;
using lanrove::soap::namespaceOf;
using lanrove::soap::prefixOf;

inline pugi::xml_node firstElement(pugi::xml_node node) {
    for (pugi::xml_node c : node.children())
        if (c.type() == pugi::node_element) return c;
    return {};
}

}  // namespace lanrove::camsim::soap
