#include "onvif/device_time.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <pugixml.hpp>

#include "discovery/soap_names.h"
#include "support/trace_log.h"

namespace lanrove::onvif {

namespace {

constexpr std::string_view kSoapNs = "http://www.w3.org/2003/05/soap-envelope";
constexpr std::string_view kDeviceNs = "http://www.onvif.org/ver10/device/wsdl";

// Elements are matched by local name alone: devices get their namespaces wrong.
using soap::childNamed;
using soap::localOf;

// A whole number of at most 4 digits between `low` and `high`, spaces around allowed.
bool fieldOf(pugi::xml_node parent, std::string_view local, int low, int high, int& value) {
    const pugi::xml_node node = childNamed(parent, local);
    if (!node) return false;
    std::string_view text = node.text().get();
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n' ||
                             text.front() == '\r'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' ||
                             text.back() == '\r'))
        text.remove_suffix(1);
    if (text.empty() || text.size() > 4) return false;
    int v = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '9') return false;
        v = v * 10 + (ch - '0');
    }
    if (v < low || v > high) return false;
    value = v;
    return true;
}

bool leapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leapYear(y) ? 29 : kDays[m - 1];
}

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Sink {
    std::string body;
    bool bOversized = false;
};

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const std::size_t n = size * count;
    if (sink->body.size() + n > kMaxTimeReplyBytes) {
        sink->bOversized = true;
        return 0;  // ends the transfer
    }
    sink->body.append(data, n);
    return n;
}

bool httpUrl(const std::string& url) {
    return (url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0) && url.size() <= 2048 &&
           url.find_first_of(" \r\n\t") == std::string::npos;
}

}  // namespace

std::int64_t utcSecondsOf(int year, int month, int day, int hour, int minute, int second) {
    // Days from the civil date (H. Hinnant's algorithm).
    const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = (month + 9) % 12;
    const std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days = era * 146097 + doe - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

std::string buildGetSystemDateAndTime() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<s:Envelope xmlns:s=\"" +
           std::string(kSoapNs) + "\"><s:Body><tds:GetSystemDateAndTime xmlns:tds=\"" +
           std::string(kDeviceNs) + "\"/></s:Body></s:Envelope>";
}

const char* timeStatusName(TimeStatus status) {
    switch (status) {
        case TimeStatus::Ok:
            return "ok";
        case TimeStatus::BadAddress:
            return "bad address";
        case TimeStatus::Timeout:
            return "timeout";
        case TimeStatus::Unreachable:
            return "unreachable";
        case TimeStatus::HttpError:
            return "http error";
        case TimeStatus::Fault:
            return "soap fault";
        case TimeStatus::Oversized:
            return "oversized";
        case TimeStatus::Malformed:
            return "malformed";
        case TimeStatus::NoTime:
            return "no time";
        case TimeStatus::BadTime:
            return "bad time";
        case TimeStatus::TransferError:
            return "transfer error";
    }
    return "?";
}

DeviceTime parseSystemDateAndTime(std::string_view reply) {
    DeviceTime out;
    pugi::xml_document doc;
    if (const soap::Load loaded = soap::load(doc, reply, kMaxTimeReplyBytes);
        loaded != soap::Load::Ok) {
        out.status =
            loaded == soap::Load::Oversized ? TimeStatus::Oversized : TimeStatus::Malformed;
        return out;
    }
    const pugi::xml_node env = doc.document_element();
    const pugi::xml_node body = childNamed(env, "Body");
    if (localOf(env.name()) != "Envelope" || !body) {
        out.status = TimeStatus::Malformed;
        return out;
    }
    if (const pugi::xml_node fault = childNamed(body, "Fault")) {
        out.status = TimeStatus::Fault;
        const pugi::xml_node code = childNamed(fault, "Code");
        const pugi::xml_node sub = childNamed(childNamed(code, "Subcode"), "Value");
        out.detail = std::string(sub ? sub.text().get() : childNamed(code, "Value").text().get())
                         .substr(0, 128);
        return out;
    }
    const pugi::xml_node utc = childNamed(
        childNamed(childNamed(body, "GetSystemDateAndTimeResponse"), "SystemDateAndTime"),
        "UTCDateTime");
    if (!utc) {
        out.status = TimeStatus::NoTime;
        return out;
    }
    const pugi::xml_node date = childNamed(utc, "Date");
    const pugi::xml_node time = childNamed(utc, "Time");
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    // Second 60 is a leap second.
    if (!fieldOf(date, "Year", 1970, 9999, year) || !fieldOf(date, "Month", 1, 12, month) ||
        !fieldOf(date, "Day", 1, 31, day) || day > daysInMonth(year, month) ||
        !fieldOf(time, "Hour", 0, 23, hour) || !fieldOf(time, "Minute", 0, 59, minute) ||
        !fieldOf(time, "Second", 0, 60, second)) {
        out.status = TimeStatus::BadTime;
        return out;
    }
    out.status = TimeStatus::Ok;
    out.utcSeconds = utcSecondsOf(year, month, day, hour, minute, second);
    return out;
}

DeviceTime getSystemDateAndTime(const std::string& xaddr, const Clock& clock, long timeoutMs,
                                TraceLog* trace) {
    DeviceTime out;
    if (!httpUrl(xaddr)) {
        out.status = TimeStatus::BadAddress;
        return out;
    }
    globalInit();
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(),
                                                                   &curl_easy_cleanup);
    if (!easy) {
        out.status = TimeStatus::TransferError;
        out.detail = "no curl handle";
        return out;
    }
    CURL* h = easy.get();
    const std::string request = buildGetSystemDateAndTime();
    const long limitMs = std::max(1L, clock.scaledMs(timeoutMs));
    curl_slist* headers =
        curl_slist_append(nullptr,
                          "Content-Type: application/soap+xml; charset=utf-8; "
                          "action=\"http://www.onvif.org/ver10/device/wsdl/GetSystemDateAndTime\"");
    const std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList(
        headers, &curl_slist_free_all);
    Sink sink;
    curl_easy_setopt(h, CURLOPT_URL, xaddr.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_PROXY, "");  // direct, whatever the environment says
    curl_easy_setopt(h, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, limitMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, limitMs);
    // Other makers' cameras use self-signed certificates too.
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.c_str());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.size()));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, static_cast<void*>(&sink));
    const CURLcode rc = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &out.httpStatus);
    if (sink.bOversized) {
        out.status = TimeStatus::Oversized;
    } else if (rc == CURLE_OPERATION_TIMEDOUT) {
        out.status = TimeStatus::Timeout;
    } else if (rc == CURLE_COULDNT_CONNECT || rc == CURLE_COULDNT_RESOLVE_HOST) {
        out.status = TimeStatus::Unreachable;
    } else if (rc != CURLE_OK) {
        out.status = TimeStatus::TransferError;
    } else {
        const long status = out.httpStatus;
        out = parseSystemDateAndTime(sink.body);
        out.httpStatus = status;
        // A fault is a fault whatever the status; anything else must come with 200.
        if (status != 200 && out.status != TimeStatus::Fault) out.status = TimeStatus::HttpError;
    }
    if (rc != CURLE_OK && out.detail.empty()) out.detail = curl_easy_strerror(rc);
    if (trace != nullptr)
        trace->trace(1, "ONVIF GetSystemDateAndTime(%s) %s http=%ld %s", xaddr.c_str(),
                     timeStatusName(out.status), out.httpStatus, out.detail.c_str());
    return out;
}

}  // namespace lanrove::onvif
