#include "wsd_responder.h"

#include <pugixml.hpp>
#include <sstream>
#include <utility>

#include "discovery/ipv4_address.h"
#include "discovery/onvif_probe.h"
#include "soap_names.h"

namespace lanrove::camsim {

namespace {

using namespace soap;

constexpr std::size_t kMaxIdChars = 256;
constexpr std::size_t kMaxProbeItems = 32;
constexpr std::string_view kRfc3986 = "http://schemas.xmlsoap.org/ws/2005/04/discovery/rfc3986";
constexpr std::string_view kStrcmp0 = "http://schemas.xmlsoap.org/ws/2005/04/discovery/strcmp0";
constexpr std::string_view kScopeBase = "onvif://www.onvif.org/";

struct TypeName {
    std::string ns;
    std::string local;
    bool operator==(const TypeName&) const = default;
};

std::vector<std::string> words(std::string_view text) {
    std::vector<std::string> out;
    std::istringstream in{std::string(text)};
    std::string w;
    while (in >> w) out.push_back(w);
    return out;
}

// Each device type the way it is written in its ProbeMatch, and what it stands for.
struct DeviceType {
    const char* prefix;
    std::string_view ns;
    const char* local;
};
constexpr DeviceType kOnvifTypes[] = {{"dn", kNetworkNs, "NetworkVideoTransmitter"},
                                      {"tds", kDeviceNs, "Device"}};
constexpr DeviceType kPrinterTypes[] = {{"wsdp", kDevProfNs, "Device"},
                                        {"pr", kPrintNs, "PrintDeviceType"}};

bool hasType(const SimCamera& c, const TypeName& t) {
    const auto in = [&](const auto& list) {
        for (const DeviceType& d : list)
            if (t.ns == d.ns && t.local == d.local) return true;
        return false;
    };
    return c.onvif.enabled ? in(kOnvifTypes) : in(kPrinterTypes);
}

std::vector<std::string> scopesOf(const SimCamera& c) {
    if (!c.onvif.enabled) return {};
    const std::string base(kScopeBase);
    std::vector<std::string> out = {base + "type/video_encoder",
                                    base + "type/Network_Video_Transmitter",
                                    base + "Profile/Streaming"};
    const std::string& model = c.onvif.model.empty() ? c.model : c.onvif.model;
    const std::string& name = c.onvif.name.empty() ? c.title : c.onvif.name;
    if (!model.empty()) out.push_back(base + "hardware/" + scopeSegment(model));
    if (!name.empty()) out.push_back(base + "name/" + scopeSegment(name));
    if (!c.onvif.location.empty())
        out.push_back(base + "location/" + scopeSegment(c.onvif.location));
    if (!c.onvif.manufacturer.empty())
        out.push_back(base + "manufacturer/" + scopeSegment(c.onvif.manufacturer));
    return out;
}

// RFC 3986 matching as WS-Discovery simplifies it: the probe's scope equals the device's or is
// a prefix of it that ends at a segment boundary.
bool scopeMatches(std::string_view rule, std::string probe, const std::string& scope) {
    if (rule == kStrcmp0) return probe == scope;
    while (probe.size() > 1 && probe.back() == '/') probe.pop_back();
    if (probe == scope) return true;
    return scope.size() > probe.size() && scope.compare(0, probe.size(), probe) == 0 &&
           scope[probe.size()] == '/';
}

std::string xaddrOf(const SimCamera& c) {
    if (c.onvif.enabled) {
        // On the port of one of our SSL cameras the service is HTTPS like its CGI.
        const bool https = !c.foreign() && c.ssl && c.onvif.xaddrPort == c.port;
        return std::string(https ? "https://" : "http://") + c.ip + ":" +
               std::to_string(c.onvif.xaddrPort) + "/onvif/device_service";
    }
    // A WSD printer's metadata endpoint, named after its UUID.
    return "http://" + c.ip + ":5357/" + c.wsdUuid.substr(c.wsdUuid.rfind(':') + 1);
}

std::string buildProbeMatch(const SimCamera& c, const std::string& relatesTo, unsigned number) {
    pugi::xml_document doc;
    pugi::xml_node decl = doc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    pugi::xml_node env = doc.append_child("SOAP-ENV:Envelope");
    env.append_attribute("xmlns:SOAP-ENV") = std::string(kEnvelopeNs).c_str();
    env.append_attribute("xmlns:wsa") = std::string(kAddressingNs).c_str();
    env.append_attribute("xmlns:d") = std::string(kDiscoveryNs).c_str();
    const auto& types = c.onvif.enabled ? kOnvifTypes : kPrinterTypes;
    std::string typeText;
    for (const DeviceType& t : types) {
        env.append_attribute(("xmlns:" + std::string(t.prefix)).c_str()) =
            std::string(t.ns).c_str();
        typeText += (typeText.empty() ? "" : " ") + std::string(t.prefix) + ":" + t.local;
    }
    pugi::xml_node header = env.append_child("SOAP-ENV:Header");
    header.append_child("wsa:MessageID").text() = onvif::newMessageId().c_str();
    header.append_child("wsa:RelatesTo").text() = relatesTo.c_str();
    header.append_child("wsa:To").text() =
        "http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous";
    header.append_child("wsa:Action").text() =
        (std::string(kDiscoveryNs) + "/ProbeMatches").c_str();
    pugi::xml_node seq = header.append_child("d:AppSequence");
    seq.append_attribute("InstanceId") = 1;
    seq.append_attribute("MessageNumber") = number;
    pugi::xml_node match = env.append_child("SOAP-ENV:Body")
                               .append_child("d:ProbeMatches")
                               .append_child("d:ProbeMatch");
    match.append_child("wsa:EndpointReference").append_child("wsa:Address").text() =
        (c.onvif.enabled ? c.onvif.uuid : c.wsdUuid).c_str();
    match.append_child("d:Types").text() = typeText.c_str();
    std::string scopes;
    for (const std::string& s : scopesOf(c)) scopes += (scopes.empty() ? "" : " ") + s;
    if (!scopes.empty()) match.append_child("d:Scopes").text() = scopes.c_str();
    match.append_child("d:XAddrs").text() = xaddrOf(c).c_str();
    match.append_child("d:MetadataVersion").text() = 1;
    std::ostringstream out;
    doc.save(out, "", pugi::format_raw);
    return out.str();
}

}  // namespace

std::string scopeSegment(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char ch : text) {
        const bool unreserved = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                                (ch >= '0' && ch <= '9') || ch == '-' || ch == '.' || ch == '_' ||
                                ch == '~';
        if (unreserved) {
            out.push_back(static_cast<char>(ch));
        } else {
            out.push_back('%');
            out.push_back(kHex[ch >> 4]);
            out.push_back(kHex[ch & 0x0F]);
        }
    }
    return out;
}

WsdProbeResult answerProbe(Fleet& fleet, std::string_view message) {
    WsdProbeResult result;
    pugi::xml_document doc;
    if (const Load loaded = load(doc, message, kMaxProbeBytes); loaded != Load::Ok) {
        result.why = loaded == Load::Oversized ? "oversized" : "malformed";
        return result;
    }
    const pugi::xml_node env = doc.document_element();
    const pugi::xml_node probe = child(child(env, kEnvelopeNs, "Body"), kDiscoveryNs, "Probe");
    if (!is(env, kEnvelopeNs, "Envelope") || !probe) {
        result.why = "not a probe";  // also the ProbeMatches and Hellos of others
        return result;
    }
    result.messageId =
        child(child(env, kEnvelopeNs, "Header"), kAddressingNs, "MessageID").text().get();
    if (result.messageId.empty() || result.messageId.size() > kMaxIdChars) {
        result.why = "no usable MessageID";
        return result;
    }
    // The wanted types; one whose prefix is unbound matches no device.
    std::vector<TypeName> wanted;
    bool bUnbound = false;
    const pugi::xml_node types = child(probe, kDiscoveryNs, "Types");
    for (const std::string& q : words(types.text().get())) {
        if (wanted.size() >= kMaxProbeItems) break;
        TypeName t{"", std::string(localOf(q))};
        if (!namespaceOf(types, prefixOf(q), t.ns)) bUnbound = true;
        wanted.push_back(std::move(t));
    }
    const pugi::xml_node scopeNode = child(probe, kDiscoveryNs, "Scopes");
    std::vector<std::string> scopes = words(scopeNode.text().get());
    if (scopes.size() > kMaxProbeItems) scopes.resize(kMaxProbeItems);
    const std::string_view rule =
        scopeNode.attribute("MatchBy") ? scopeNode.attribute("MatchBy").value() : kRfc3986;
    result.bProbe = true;
    if (bUnbound || (!scopes.empty() && rule != kRfc3986 && rule != kStrcmp0)) return result;

    std::lock_guard lock(fleet.mutex);
    for (std::size_t i = 0; i < fleet.cameras.size(); ++i) {
        const SimCamera& c = fleet.cameras[i];
        if (!c.onvif.enabled && !c.wsdPrinter) continue;
        bool ok = true;
        for (const TypeName& t : wanted) ok = ok && hasType(c, t);
        const std::vector<std::string> own = scopesOf(c);
        for (const std::string& s : scopes) {
            bool found = false;
            for (const std::string& o : own) found = found || scopeMatches(rule, s, o);
            ok = ok && found;
        }
        if (!ok) continue;
        result.replies.push_back(
            {buildProbeMatch(c, result.messageId, static_cast<unsigned>(result.replies.size() + 1)),
             ipv4::fromTextOrZero(c.ip), i});
    }
    return result;
}

}  // namespace lanrove::camsim
