#pragma once
// Element names in SOAP texts: prefixes differ from sender to sender, so elements are matched on
// their namespace URI and local name. Shared by the WS-Discovery codec and the simulator.

#include <cstddef>
#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace lanrove::soap {

inline std::string_view prefixOf(std::string_view qname) {
    const auto colon = qname.find(':');
    return colon == std::string_view::npos ? std::string_view() : qname.substr(0, colon);
}

inline std::string_view localOf(std::string_view qname) {
    const auto colon = qname.find(':');
    return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

// The namespace URI that `prefix` stands for at `node` (empty prefix: the default one).
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

// `node` is the element `local` of the namespace `ns`, whatever its prefix.
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

// The first child element named `local` in whatever namespace (for replies read leniently).
inline pugi::xml_node childNamed(pugi::xml_node node, std::string_view local) {
    for (pugi::xml_node c : node.children())
        if (c.type() == pugi::node_element && localOf(c.name()) == local) return c;
    return {};
}

// Parse options for outside SOAP texts: no processing instructions; pugixml expands no DTD.
inline constexpr unsigned kParseOptions = pugi::parse_default & ~pugi::parse_pi;

enum class Load { Ok, Oversized, Malformed };

// Reads an outside SOAP text into `doc`, refusing one longer than `limit` bytes unread.
inline Load load(pugi::xml_document& doc, std::string_view text, std::size_t limit) {
    if (text.size() > limit) return Load::Oversized;
    return doc.load_buffer(text.data(), text.size(), kParseOptions) ? Load::Ok : Load::Malformed;
}

}  // namespace lanrove::soap
