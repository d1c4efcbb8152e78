#include "onvif_device.h"

#include <ctime>
#include <pugixml.hpp>
#include <sstream>

#include "soap_names.h"

namespace lanrove::camsim {

namespace {

using namespace soap;

pugi::xml_node envelope(pugi::xml_document& doc) {
    pugi::xml_node decl = doc.append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    pugi::xml_node env = doc.append_child("env:Envelope");
    env.append_attribute("xmlns:env") = std::string(kEnvelopeNs).c_str();
    env.append_attribute("xmlns:tds") = std::string(kDeviceNs).c_str();
    env.append_attribute("xmlns:tt") = std::string(kSchemaNs).c_str();
    env.append_attribute("xmlns:ter") = std::string(kErrorNs).c_str();
    return env.append_child("env:Body");
}

std::string text(const pugi::xml_document& doc) {
    std::ostringstream out;
    doc.save(out, "", pugi::format_raw);
    return out.str();
}

SoapAnswer fault(int status, const char* code, const char* subcode, const char* reason) {
    pugi::xml_document doc;
    pugi::xml_node f = envelope(doc).append_child("env:Fault");
    pugi::xml_node c = f.append_child("env:Code");
    c.append_child("env:Value").text() = code;
    c.append_child("env:Subcode").append_child("env:Value").text() = subcode;
    pugi::xml_node r = f.append_child("env:Reason").append_child("env:Text");
    r.append_attribute("xml:lang") = "en";
    r.text() = reason;
    return {status, text(doc), "fault"};
}

void putDateTime(pugi::xml_node parent, const char* name, const std::tm& t) {
    pugi::xml_node dt = parent.append_child(name);
    pugi::xml_node time = dt.append_child("tt:Time");
    time.append_child("tt:Hour").text() = t.tm_hour;
    time.append_child("tt:Minute").text() = t.tm_min;
    time.append_child("tt:Second").text() = t.tm_sec;
    pugi::xml_node date = dt.append_child("tt:Date");
    date.append_child("tt:Year").text() = t.tm_year + 1900;
    date.append_child("tt:Month").text() = t.tm_mon + 1;
    date.append_child("tt:Day").text() = t.tm_mday;
}

}  // namespace

std::string systemDateAndTimeResponse(std::chrono::system_clock::time_point utc) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(utc);
    std::tm t{};
    gmtime_r(&seconds, &t);
    pugi::xml_document doc;
    pugi::xml_node sdt = envelope(doc)
                             .append_child("tds:GetSystemDateAndTimeResponse")
                             .append_child("tds:SystemDateAndTime");
    sdt.append_child("tt:DateTimeType").text() = "Manual";
    sdt.append_child("tt:DaylightSavings").text() = "false";
    sdt.append_child("tt:TimeZone").append_child("tt:TZ").text() = "UTC0";
    putDateTime(sdt, "tt:UTCDateTime", t);
    putDateTime(sdt, "tt:LocalDateTime", t);
    return text(doc);
}

SoapAnswer answerDeviceService(const SimOnvif& device, std::string_view request,
                               std::chrono::system_clock::time_point realNow) {
    pugi::xml_document doc;
    const Load loaded = load(doc, request, kMaxSoapRequestBytes);
    if (loaded == Load::Oversized)
        return fault(400, "env:Sender", "ter:InvalidArgs", "request too large");
    if (loaded == Load::Malformed)
        return fault(400, "env:Sender", "ter:WellFormed", "not well-formed XML");
    const pugi::xml_node env = doc.document_element();
    const pugi::xml_node body = child(env, kEnvelopeNs, "Body");
    if (!is(env, kEnvelopeNs, "Envelope") || !body)
        return fault(400, "env:Sender", "ter:WellFormed", "no SOAP 1.2 envelope");
    const pugi::xml_node call = firstElement(body);
    if (!is(call, kDeviceNs, "GetSystemDateAndTime"))
        return fault(400, "env:Receiver", "ter:ActionNotSupported", "action not supported");
    SoapAnswer answer;
    answer.body = systemDateAndTimeResponse(realNow + std::chrono::seconds(device.clockOffsetS));
    answer.event = "time";
    return answer;
}

}  // namespace lanrove::camsim
