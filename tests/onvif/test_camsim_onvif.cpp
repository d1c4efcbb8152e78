// The simulator's ONVIF and WS-Discovery devices: the fleet file's fields, which devices answer
// which Probe (read back with the program's own ProbeMatch parser), and that other makers'
// devices keep out of this family's datagrams.
#include <gtest/gtest.h>

#include <cstring>

#include "camera_datagrams.h"
#include "discovery/datagram_codec.h"
#include "discovery/onvif_probe.h"
#include "fleet_file.h"
#include "wsd_responder.h"

using namespace lanrove;
using namespace lanrove::camsim;

namespace {

const char* kFleet = R"({
  "defaults": {"model": "KT-5200", "mask": "255.255.255.0"},
  "cameras": [
    {"mac": "00:80:45:00:00:01", "ip": "192.168.0.2", "title": "Plain"},
    {"mac": "00:80:45:00:00:02", "ip": "192.168.0.3", "title": "Both",
     "onvif": {"location": "Hall"}},
    {"mac": "02:00:00:00:00:03", "ip": "192.168.0.4",
     "onvif": {"uuid": "urn:uuid:11111111-2222-4333-8444-555555555555", "only": true,
               "manufacturer": "Acme Vision", "model": "X1", "name": "Gate & <Yard>",
               "location": "Yard/North", "xaddr_port": 8080, "clock_offset_s": 7200}},
    {"mac": "02:00:00:00:00:04", "ip": "192.168.0.5", "wsd_printer": true}
  ]})";

std::vector<SimCamera> parse(const char* text) {
    std::vector<SimCamera> cams;
    std::string error;
    EXPECT_TRUE(parseFleetJson(text, cams, error)) << error;
    return cams;
}

struct Sim {
    Fleet fleet;
    Sim() { fleet.cameras = parse(kFleet); }
    // The messages the devices answer with, each parsed by the program's parser.
    std::vector<onvif::ParsedReply> probe(const std::string& message, std::string id = "") {
        const WsdProbeResult r = answerProbe(fleet, message);
        EXPECT_TRUE(r.bProbe) << r.why;
        if (!id.empty()) {
            EXPECT_EQ(r.messageId, id);
        }
        std::vector<onvif::ParsedReply> out;
        for (const WsdReply& w : r.replies) {
            out.push_back(onvif::parseProbeMatches(w.xml));
            EXPECT_EQ(out.back().status, onvif::ParseStatus::Ok) << w.xml;
            if (!id.empty()) {
                EXPECT_EQ(out.back().relatesTo, id);
            }
        }
        return out;
    }
};

std::string customProbe(const std::string& probeBody, const std::string& extraNs = "") {
    return R"(<?xml version="1.0"?><soap:Envelope xmlns:soap="http://www.w3.org/2003/05/soap-envelope"
      xmlns:w="http://schemas.xmlsoap.org/ws/2004/08/addressing"
      xmlns:q="http://schemas.xmlsoap.org/ws/2005/04/discovery" )" +
           extraNs +
           R"(><soap:Header><w:MessageID>uuid:abc</w:MessageID></soap:Header><soap:Body>)" +
           probeBody + "</soap:Body></soap:Envelope>";
}

}  // namespace

TEST(CamsimOnvifFleet, OnvifAndPrinterFieldsAndTheirDefaults) {
    const auto cams = parse(kFleet);
    ASSERT_EQ(cams.size(), 4u);
    EXPECT_FALSE(cams[0].onvif.enabled);
    EXPECT_FALSE(cams[0].foreign());
    EXPECT_TRUE(cams[1].onvif.enabled);
    EXPECT_FALSE(cams[1].foreign());  // one of ours that also speaks ONVIF
    EXPECT_EQ(cams[1].onvif.uuid, "urn:uuid:4c52e000-0000-4000-8000-008045000002");
    EXPECT_EQ(cams[1].onvif.xaddrPort, 80);
    const SimOnvif& o = cams[2].onvif;
    EXPECT_TRUE(cams[2].foreign());
    EXPECT_EQ(o.uuid, "urn:uuid:11111111-2222-4333-8444-555555555555");
    EXPECT_EQ(o.manufacturer, "Acme Vision");
    EXPECT_EQ(o.xaddrPort, 8080);
    EXPECT_EQ(o.clockOffsetS, 7200);
    EXPECT_FALSE(o.serviceSilent);
    EXPECT_TRUE(cams[3].wsdPrinter);
    EXPECT_TRUE(cams[3].foreign());
    EXPECT_EQ(cams[3].wsdUuid, "urn:uuid:4c52e000-0000-4000-8000-020000000004");
}

TEST(CamsimOnvifFleet, MistakesAreReported) {
    const std::string head = R"({"cameras": [{"mac": "00:80:45:00:00:01", "ip": "1.2.3.4", )";
    const std::pair<std::string, const char*> cases[] = {
        {head + R"("onvif": 1}]})", "must be an object"},
        {head + R"("onvif": {"uuid": "urn:uuid:1234"}}]})", "urn:uuid"},
        {head + R"("onvif": {"uuid": "urn:uuid:11111111-2222-4333-8444-55555555555g"}}]})",
         "urn:uuid"},
        {head + R"("onvif": {"xaddr_port": 0}}]})", "1..65535"},
        {head + R"("onvif": {"xaddr_port": 65536}}]})", "1..65535"},
        {head + R"("onvif": {"clock_offset_s": 99999999999}}]})", "whole number"},
        {head + R"("onvif": {"name": "a\nb"}}]})", "control character"},
        {head + R"("onvif": {"name": ")" + std::string(65, 'n') + R"("}}]})", "longer"},
        {head + R"("onvif": {"colour": "red"}}]})", "unknown onvif field"},
        {head + R"("onvif": {}, "wsd_printer": true}]})", "ONVIF device and a printer"},
        {head + R"("wsd_printer": "yes"}]})", "wsd_printer"},
        {head + R"("wsd_printer": {"colour": 1}}]})", "unknown wsd_printer field"},
        {R"({"defaults": {"onvif": {"uuid": "urn:uuid:11111111-2222-4333-8444-555555555555"}},
            "cameras": [{"mac": "00:80:45:00:00:01", "ip": "1.2.3.4"},
                        {"mac": "00:80:45:00:00:02", "ip": "1.2.3.5"}]})",
         "used twice"},
    };
    for (const auto& [text, expected] : cases) {
        std::vector<SimCamera> cams;
        std::string error;
        EXPECT_FALSE(parseFleetJson(text, cams, error)) << text;
        EXPECT_NE(error.find(expected), std::string::npos) << text << " -> " << error;
    }
}

TEST(CamsimWsd, OnvifProbesFindTheOnvifDevicesOnly) {
    Sim sim;
    for (auto type : {onvif::ProbeType::NetworkVideoTransmitter, onvif::ProbeType::Device}) {
        const std::string id = onvif::newMessageId();
        const auto replies = sim.probe(onvif::buildProbe(type, id), id);
        ASSERT_EQ(replies.size(), 2u);
        ASSERT_EQ(replies[0].matches.size(), 1u);
        ASSERT_EQ(replies[1].matches.size(), 1u);
        const onvif::ProbeMatch& ours = replies[0].matches[0];
        EXPECT_EQ(ours.endpoint, "urn:uuid:4c52e000-0000-4000-8000-008045000002");
        EXPECT_EQ(ours.model, "KT-5200");  // the camera's own model and title stand in
        EXPECT_EQ(ours.name, "Both");
        EXPECT_EQ(ours.location, "Hall");
        EXPECT_EQ(ours.address, "192.168.0.3");
        EXPECT_EQ(ours.port, 80);
        const onvif::ProbeMatch& acme = replies[1].matches[0];
        EXPECT_EQ(acme.maker, "Acme Vision");
        EXPECT_EQ(acme.model, "X1");
        EXPECT_EQ(acme.name, "Gate & <Yard>");  // escaped in XML, encoded in the scope
        EXPECT_EQ(acme.location, "Yard/North");
        ASSERT_EQ(acme.xaddrs.size(), 1u);
        EXPECT_EQ(acme.xaddrs[0], "http://192.168.0.4:8080/onvif/device_service");
        EXPECT_EQ(acme.port, 8080);
    }
}

TEST(CamsimWsd, AServiceOnAnSslCamerasPortIsHttps) {
    Sim sim;
    {
        SimCamera& ours = sim.fleet.cameras[1];
        ours.ssl = true;
        ours.port = 443;
        ours.onvif.xaddrPort = 443;
    }
    const auto replies = sim.probe(onvif::buildProbe(onvif::ProbeType::Device, "urn:uuid:x"));
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].matches.at(0).xaddrs.at(0),
              "https://192.168.0.3:443/onvif/device_service");
    EXPECT_EQ(replies[0].matches.at(0).scheme, "https");
    // Another maker's device on its own port stays plain HTTP.
    EXPECT_EQ(replies[1].matches.at(0).scheme, "http");
}

TEST(CamsimWsd, AProbeWithoutTypesAlsoFindsThePrinterWhichTheProgramDrops) {
    Sim sim;
    const std::string id = onvif::newMessageId();
    const WsdProbeResult r = answerProbe(sim.fleet, onvif::buildProbe(onvif::ProbeType::Any, id));
    ASSERT_EQ(r.replies.size(), 3u);
    EXPECT_EQ(r.replies[2].device, 3u);
    EXPECT_EQ(r.replies[2].source, 0xC0A80005u);  // from the printer's own address
    EXPECT_NE(r.replies[2].xml.find("pr:PrintDeviceType"), std::string::npos);
    const onvif::ParsedReply printer = onvif::parseProbeMatches(r.replies[2].xml);
    EXPECT_EQ(printer.status, onvif::ParseStatus::Ok);
    EXPECT_TRUE(printer.matches.empty());
    EXPECT_EQ(printer.dropped, 1);
}

TEST(CamsimWsd, TypesAreMatchedOnNamespacesNotPrefixes) {
    Sim sim;
    // Another prefix for the ONVIF network namespace.
    EXPECT_EQ(
        sim.probe(customProbe(
                      R"(<q:Probe><q:Types xmlns:nv="http://www.onvif.org/ver10/network/wsdl">)"
                      R"(nv:NetworkVideoTransmitter</q:Types></q:Probe>)"))
            .size(),
        2u);
    // "Device" of the devices profile is the printer's, not the ONVIF one.
    const auto wsdp = sim.probe(customProbe(
        R"(<q:Probe><q:Types xmlns:dp="http://schemas.xmlsoap.org/ws/2006/02/devprof">dp:Device</q:Types></q:Probe>)"));
    ASSERT_EQ(wsdp.size(), 1u);
    EXPECT_EQ(wsdp[0].dropped, 1);
    // Both ONVIF types at once; an unknown type; a prefix that is bound nowhere.
    EXPECT_EQ(
        sim
            .probe(customProbe(
                R"(<q:Probe><q:Types>dn:NetworkVideoTransmitter tds:Device</q:Types></q:Probe>)",
                R"(xmlns:dn="http://www.onvif.org/ver10/network/wsdl" xmlns:tds="http://www.onvif.org/ver10/device/wsdl")"))
            .size(),
        2u);
    EXPECT_TRUE(
        sim.probe(customProbe(R"(<q:Probe><q:Types xmlns:z="urn:z">z:Toaster</q:Types></q:Probe>)"))
            .empty());
    EXPECT_TRUE(
        sim.probe(
               customProbe(R"(<q:Probe><q:Types>dn:NetworkVideoTransmitter</q:Types></q:Probe>)"))
            .empty());
}

TEST(CamsimWsd, ScopesNarrowTheMatch) {
    Sim sim;
    const auto yard = sim.probe(customProbe(
        R"(<q:Probe><q:Scopes>onvif://www.onvif.org/location/Yard%2FNorth</q:Scopes></q:Probe>)"));
    ASSERT_EQ(yard.size(), 1u);
    EXPECT_EQ(yard[0].matches.at(0).model, "X1");
    // A prefix ends at a segment boundary: "hardware/X" is no prefix of "hardware/X1".
    EXPECT_TRUE(
        sim
            .probe(customProbe(
                R"(<q:Probe><q:Scopes>onvif://www.onvif.org/hardware/X</q:Scopes></q:Probe>)"))
            .empty());
    EXPECT_EQ(
        sim.probe(customProbe(
                      R"(<q:Probe><q:Scopes>onvif://www.onvif.org/type/</q:Scopes></q:Probe>)"))
            .size(),
        2u);
    EXPECT_EQ(
        sim
            .probe(customProbe(
                R"(<q:Probe><q:Scopes MatchBy="http://schemas.xmlsoap.org/ws/2005/04/discovery/strcmp0">onvif://www.onvif.org/type</q:Scopes></q:Probe>)"))
            .size(),
        0u);
    EXPECT_TRUE(
        sim
            .probe(customProbe(
                R"(<q:Probe><q:Scopes MatchBy="urn:other">onvif://www.onvif.org/type</q:Scopes></q:Probe>)"))
            .empty());
}

TEST(CamsimWsd, OnlyProbesAreAnswered) {
    Sim sim;
    const std::string id = onvif::newMessageId();
    const std::string probe = onvif::buildProbe(onvif::ProbeType::Any, id);
    const WsdProbeResult matches =
        answerProbe(sim.fleet, answerProbe(sim.fleet, probe).replies[0].xml);
    EXPECT_FALSE(matches.bProbe);  // a ProbeMatches (another device's answer) is not a probe
    EXPECT_TRUE(matches.replies.empty());
    std::string noId = probe;
    noId.erase(noId.find("<a:MessageID>"),
               noId.find("</a:MessageID>") + 14 - noId.find("<a:MessageID>"));
    EXPECT_FALSE(answerProbe(sim.fleet, noId).bProbe);
    EXPECT_FALSE(answerProbe(sim.fleet, probe.substr(0, probe.size() - 20)).bProbe);
    EXPECT_FALSE(answerProbe(sim.fleet, "").bProbe);
    // SOAP 1.1 is not what WS-Discovery speaks.
    std::string soap11 = probe;
    soap11.replace(soap11.find("http://www.w3.org/2003/05/soap-envelope"), 39,
                   "http://schemas.xmlsoap.org/soap/envelope/");
    EXPECT_FALSE(answerProbe(sim.fleet, soap11).bProbe);
    std::string big = probe;
    big.insert(big.find("<s:Body>"), std::string(kMaxProbeBytes, ' '));
    EXPECT_FALSE(answerProbe(sim.fleet, big).bProbe);
}

TEST(CamsimWsd, OtherMakersDevicesIgnoreThisFamilysDatagrams) {
    Fleet fleet;
    fleet.cameras = parse(kFleet);
    DatagramResponder responder{fleet, WireCodec()};
    std::vector<Outgoing> out;
    std::vector<std::size_t> changed;
    const std::uint8_t pc[6] = {2, 0, 0, 0, 0, 1};
    dgram::Datagram d;
    dgram::buildPcDatagram(d, dgram::kSearchRequest, pc, dgram::kArgSearch, nullptr, 0, 1);
    responder.handle(d.data(), d.size(), out, changed);
    std::set<std::size_t> answered;
    for (const Outgoing& o : out) answered.insert(o.camera);
    EXPECT_EQ(answered, (std::set<std::size_t>{0, 1}));
}
