#include <gtest/gtest.h>

#include "discovery/onvif_probe.h"

using namespace lanrove::onvif;

namespace {

std::string match(const std::string& p, const std::string& types, const std::string& extra = "") {
    return "<" + p + ":ProbeMatch><a:EndpointReference><a:Address>urn:uuid:1-" + p +
           "</a:Address></a:EndpointReference><" + p + ":Types>" + types + "</" + p + ":Types><" +
           p +
           ":Scopes>onvif://www.onvif.org/hardware/P1346 onvif://www.onvif.org/name/Gate%20East "
           "onvif://www.onvif.org/location/city/Osaka onvif://www.onvif.org/mfr/Acme</" +
           p + ":Scopes><" + p + ":XAddrs>http://[fe80::1]/onvif/device_service " +
           "http://192.168.0.50:8080/onvif/device_service</" + p + ":XAddrs>" + extra + "</" + p +
           ":ProbeMatch>";
}

std::string envelope(const std::string& prefixes, const std::string& matches) {
    return "<?xml version=\"1.0\"?><env:Envelope xmlns:env=\"http://www.w3.org/2003/05/"
           "soap-envelope\" xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" " +
           prefixes +
           "><env:Header><a:RelatesTo>urn:uuid:abc</a:RelatesTo></env:Header><env:Body>"
           "<d:ProbeMatches>" +
           matches + "</d:ProbeMatches></env:Body></env:Envelope>";
}

const std::string kNs =
    "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\" "
    "xmlns:x=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\" "
    "xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\" "
    "xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" "
    "xmlns:pub=\"http://schemas.microsoft.com/windows/pub/2005/07\" "
    "xmlns:wsdp=\"http://schemas.xmlsoap.org/ws/2006/02/devprof\"";

}  // namespace

TEST(OnvifProbe, ProbeCarriesTypeIdAndParsesAsXml) {
    const std::string id = newMessageId();
    EXPECT_EQ(id.size(), 45u);
    EXPECT_NE(id, newMessageId());
    const std::string nvt = buildProbe(ProbeType::NetworkVideoTransmitter, id);
    EXPECT_NE(nvt.find("<a:MessageID>" + id + "</a:MessageID>"), std::string::npos);
    EXPECT_NE(nvt.find("dn:NetworkVideoTransmitter"), std::string::npos);
    EXPECT_NE(nvt.find("urn:schemas-xmlsoap-org:ws:2005:04:discovery"), std::string::npos);
    EXPECT_NE(nvt.find("/discovery/Probe</a:Action>"), std::string::npos);
    EXPECT_NE(buildProbe(ProbeType::Device, id).find(">tds:Device<"), std::string::npos);
    EXPECT_EQ(buildProbe(ProbeType::Any, id).find("Types"), std::string::npos);
    // Our own Probe is no ProbeMatches: a looped-back copy is not taken for a device.
    EXPECT_EQ(parseProbeMatches(nvt).status, ParseStatus::NotProbeMatches);
}

TEST(OnvifProbe, SeveralMatchesAnyPrefixOnlyOnvifTypes) {
    const std::string body = match("d", "dn:NetworkVideoTransmitter") +
                             match("x", "tds:Device") +                // other prefix, same URI
                             match("d", "wsdp:Device pub:Computer") +  // a PC: dropped
                             match("d", "Device");                     // unbound, generic: dropped
    const ParsedReply r = parseProbeMatches(envelope(kNs, body));
    ASSERT_EQ(r.status, ParseStatus::Ok);
    ASSERT_EQ(r.matches.size(), 2u);
    EXPECT_EQ(r.dropped, 2);
    EXPECT_EQ(r.relatesTo, "urn:uuid:abc");
    const ProbeMatch& m = r.matches[0];
    EXPECT_EQ(m.endpoint, "urn:uuid:1-d");
    EXPECT_EQ(r.matches[1].endpoint, "urn:uuid:1-x");
    EXPECT_EQ(m.model, "P1346");
    EXPECT_EQ(m.name, "Gate East");
    EXPECT_EQ(m.location, "city/Osaka");
    EXPECT_EQ(m.maker, "Acme");
    ASSERT_EQ(m.xaddrs.size(), 2u);
    // The IPv6 XAddr is kept in the list; the address comes from the IPv4 one.
    EXPECT_EQ(m.address, "192.168.0.50");
    EXPECT_EQ(m.port, 8080);
    EXPECT_EQ(m.scheme, "http");
}

TEST(OnvifProbe, PrefixBoundToAnotherUriIsNotTaken) {
    // "d" bound to a foreign URI: the elements are not discovery ones.
    const std::string ns =
        "xmlns:d=\"urn:other\" xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\"";
    EXPECT_EQ(parseProbeMatches(envelope(ns, match("d", "dn:NetworkVideoTransmitter"))).status,
              ParseStatus::NotProbeMatches);
}

TEST(OnvifProbe, MalformedOversizedAndMissingEndpoint) {
    EXPECT_EQ(parseProbeMatches("<env:Envelope><unclosed>").status, ParseStatus::Malformed);
    EXPECT_EQ(parseProbeMatches("").status, ParseStatus::Malformed);
    EXPECT_EQ(parseProbeMatches("<Envelope/>").status, ParseStatus::Malformed);
    std::string big = envelope(kNs, match("d", "dn:NetworkVideoTransmitter"));
    big.insert(big.size() - 20, std::string(kMaxMessageBytes, ' '));
    EXPECT_EQ(parseProbeMatches(big).status, ParseStatus::Oversized);
    const std::string noEndpoint =
        "<d:ProbeMatch><d:Types>dn:NetworkVideoTransmitter</d:Types></d:ProbeMatch>";
    const ParsedReply r = parseProbeMatches(envelope(kNs, noEndpoint));
    EXPECT_EQ(r.status, ParseStatus::Ok);
    EXPECT_TRUE(r.matches.empty());
    EXPECT_EQ(r.dropped, 1);
}

TEST(OnvifProbe, CountsAndFieldsAreBounded) {
    std::string body;
    for (int i = 0; i < 100; ++i) body += match("d", "dn:NetworkVideoTransmitter");
    EXPECT_EQ(parseProbeMatches(envelope(kNs, body)).matches.size(), kMaxMatchesPerMessage);
    EXPECT_EQ(decodeScopeText("A%20B%0a%1bC%zz%4"), "A BC%zz%4");
    EXPECT_EQ(decodeScopeText(std::string(500, 'x')).size(), kMaxFieldChars);
}

TEST(OnvifProbe, XAddrPortsAndSchemes) {
    const auto first = [](const std::string& xaddrs) {
        const std::string m =
            "<d:ProbeMatch><a:EndpointReference><a:Address>urn:uuid:9</a:Address>"
            "</a:EndpointReference><d:Types>tds:Device</d:Types><d:XAddrs>" +
            xaddrs + "</d:XAddrs></d:ProbeMatch>";
        const ParsedReply r = parseProbeMatches(envelope(kNs, m));
        return r.matches.empty() ? ProbeMatch{} : r.matches[0];
    };
    EXPECT_EQ(first("https://10.0.0.9/onvif").port, 443);
    EXPECT_EQ(first("https://10.0.0.9/onvif").scheme, "https");
    EXPECT_EQ(first("http://10.0.0.9/x").port, 80);
    // A bad port, a host name and another scheme give no address.
    EXPECT_EQ(first("http://10.0.0.9:99999/ http://cam.local/ ftp://10.0.0.1/").address, "");
    EXPECT_EQ(first("http://10.0.0.9:/ \n\t http://10.0.0.8:81/").address, "10.0.0.8");
}
