#include "discovery/onvif_probe.h"

#include <cstdio>
#include <pugixml.hpp>
#include <random>

#include "discovery/soap_names.h"

namespace lanrove::onvif {

namespace {

constexpr std::string_view kSoapNs = "http://www.w3.org/2003/05/soap-envelope";
constexpr std::string_view kAddrNs = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
constexpr std::string_view kDiscNs = "http://schemas.xmlsoap.org/ws/2005/04/discovery";
constexpr std::string_view kNetworkNs = "http://www.onvif.org/ver10/network/wsdl";
constexpr std::string_view kDeviceNs = "http://www.onvif.org/ver10/device/wsdl";
constexpr std::string_view kScopePrefix = "onvif://www.onvif.org/";

using soap::child;
using soap::is;
using soap::localOf;
using soap::namespaceOf;
using soap::prefixOf;

std::vector<std::string> words(std::string_view text) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < text.size() && out.size() < kMaxListItems) {
        while (i < text.size() &&
               std::string_view(" \t\r\n").find(text[i]) != std::string_view::npos)
            ++i;
        std::size_t j = i;
        while (j < text.size() &&
               std::string_view(" \t\r\n").find(text[j]) == std::string_view::npos)
            ++j;
        if (j > i) out.emplace_back(text.substr(i, j - i));
        i = j;
    }
    return out;
}

bool onvifType(pugi::xml_node types, const std::string& qname) {
    const std::string_view local = localOf(qname);
    std::string uri;
    if (!namespaceOf(types, prefixOf(qname), uri))
        return local == "NetworkVideoTransmitter";  // distinctive even with its prefix unbound
    return (uri == kNetworkNs && local == "NetworkVideoTransmitter") ||
           (uri == kDeviceNs && local == "Device");
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void takeAddress(ProbeMatch& m) {
    for (const std::string& url : m.xaddrs) {
        const auto sep = url.find("://");
        if (sep == std::string::npos) continue;
        const std::string scheme = url.substr(0, sep);
        if (scheme != "http" && scheme != "https") continue;
        std::string_view rest = std::string_view(url).substr(sep + 3);
        rest = rest.substr(0, rest.find('/'));
        const auto colon = rest.find(':');
        const std::string_view host = rest.substr(0, colon);
        unsigned port = scheme == "https" ? 443 : 80;
        if (colon != std::string_view::npos) {
            const std::string_view digits = rest.substr(colon + 1);
            if (digits.empty() || digits.size() > 5) continue;
            port = 0;
            bool ok = true;
            for (char c : digits)
                ok = ok && c >= '0' && c <= '9', port = port * 10 + unsigned(c - '0');
            if (!ok || port == 0 || port > 65535) continue;
        }
        int dots = 0;
        bool ipv4 = !host.empty() && host.size() <= 15;
        for (char c : host) {
            if (c == '.')
                ++dots;
            else if (c < '0' || c > '9')
                ipv4 = false;
        }
        if (!ipv4 || dots != 3) continue;
        m.scheme = scheme;
        m.address = std::string(host);
        m.port = static_cast<std::uint16_t>(port);
        return;
    }
}

void takeScopes(ProbeMatch& m) {
    for (const std::string& scope : m.scopes) {
        if (!scope.starts_with(kScopePrefix)) continue;
        const std::string_view rest = std::string_view(scope).substr(kScopePrefix.size());
        const auto set = [&](std::string_view key, std::string& field) {
            if (field.empty() && rest.starts_with(key))
                field = decodeScopeText(rest.substr(key.size()));
        };
        set("hardware/", m.model);
        set("name/", m.name);
        set("location/", m.location);
        set("mfr/", m.maker);
        set("manufacturer/", m.maker);
    }
}

}  // namespace

std::string newMessageId() {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    std::uint64_t hi = rng();
    std::uint64_t lo = rng();
    hi = (hi & ~0xF000ULL) | 0x4000ULL;              // version 4
    lo = (lo & ~(0xC0ULL << 56)) | (0x80ULL << 56);  // variant 10
    char buf[64];
    std::snprintf(buf, sizeof buf, "urn:uuid:%08x-%04x-%04x-%04x-%012llx",
                  static_cast<unsigned>(hi >> 32), static_cast<unsigned>((hi >> 16) & 0xFFFF),
                  static_cast<unsigned>(hi & 0xFFFF), static_cast<unsigned>(lo >> 48),
                  static_cast<unsigned long long>(lo & 0xFFFFFFFFFFFFULL));
    return buf;
}

std::string buildProbe(ProbeType type, std::string_view messageId) {
    std::string types;
    if (type == ProbeType::NetworkVideoTransmitter)
        types = "<d:Types xmlns:dn=\"" + std::string(kNetworkNs) +
                "\">dn:NetworkVideoTransmitter</d:Types>";
    else if (type == ProbeType::Device)
        types = "<d:Types xmlns:tds=\"" + std::string(kDeviceNs) + "\">tds:Device</d:Types>";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<s:Envelope xmlns:s=\"" +
           std::string(kSoapNs) + "\" xmlns:a=\"" + std::string(kAddrNs) + "\" xmlns:d=\"" +
           std::string(kDiscNs) + "\"><s:Header><a:MessageID>" + std::string(messageId) +
           "</a:MessageID><a:To>urn:schemas-xmlsoap-org:ws:2005:04:discovery</a:To>"
           "<a:Action>" +
           std::string(kDiscNs) + "/Probe</a:Action></s:Header><s:Body><d:Probe>" + types +
           "</d:Probe></s:Body></s:Envelope>";
}

std::string decodeScopeText(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size() && out.size() < kMaxFieldChars; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            c = static_cast<unsigned char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        }
        if (c < 0x20 || c == 0x7F) continue;
        out.push_back(static_cast<char>(c));
    }
    return out;
}

const char* statusName(ParseStatus status) {
    switch (status) {
        case ParseStatus::Ok:
            return "ok";
        case ParseStatus::Oversized:
            return "oversized";
        case ParseStatus::Malformed:
            return "malformed";
        case ParseStatus::NotProbeMatches:
            return "not a ProbeMatches";
    }
    return "?";
}

ParsedReply parseProbeMatches(std::string_view message) {
    ParsedReply out;
    pugi::xml_document doc;
    if (const soap::Load loaded = soap::load(doc, message, kMaxMessageBytes);
        loaded != soap::Load::Ok) {
        out.status =
            loaded == soap::Load::Oversized ? ParseStatus::Oversized : ParseStatus::Malformed;
        return out;
    }
    const pugi::xml_node env = doc.document_element();
    if (!is(env, kSoapNs, "Envelope")) return out;
    const pugi::xml_node body = child(env, kSoapNs, "Body");
    const pugi::xml_node matches = child(body, kDiscNs, "ProbeMatches");
    if (!matches) {
        out.status = ParseStatus::NotProbeMatches;
        return out;
    }
    out.status = ParseStatus::Ok;
    if (const pugi::xml_node rel = child(child(env, kSoapNs, "Header"), kAddrNs, "RelatesTo"))
        out.relatesTo = std::string(rel.text().get()).substr(0, kMaxFieldChars);
    std::size_t seen = 0;
    for (pugi::xml_node m : matches.children()) {
        if (!is(m, kDiscNs, "ProbeMatch")) continue;
        if (++seen > kMaxMatchesPerMessage) break;
        ProbeMatch pm;
        pm.endpoint =
            child(child(m, kAddrNs, "EndpointReference"), kAddrNs, "Address").text().get();
        const pugi::xml_node types = child(m, kDiscNs, "Types");
        bool onvif = false;
        for (const std::string& t : words(types.text().get())) onvif = onvif || onvifType(types, t);
        if (!onvif || pm.endpoint.empty() || pm.endpoint.size() > kMaxFieldChars) {
            ++out.dropped;
            continue;
        }
        pm.scopes = words(child(m, kDiscNs, "Scopes").text().get());
        pm.xaddrs = words(child(m, kDiscNs, "XAddrs").text().get());
        takeScopes(pm);
        takeAddress(pm);
        out.matches.push_back(std::move(pm));
    }
    return out;
}

}  // namespace lanrove::onvif
