#pragma once
// The ONVIF device service's GetSystemDateAndTime: the request, the reply's parser and a client
// over libcurl. Reply elements are matched by local name (prefixes and even namespaces differ
// between makers' firmware); the reply is bounded in size and its fields in range.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/clock.h"

namespace lanrove {
class TraceLog;
}

namespace lanrove::onvif {

inline constexpr std::size_t kMaxTimeReplyBytes = 64 * 1024;
// Protocol time for the whole exchange: connect, request and reply.
inline constexpr long kTimeRequestMs = 5000;

enum class TimeStatus {
    Ok,
    BadAddress,    // the XAddr is no http(s) URL
    Timeout,       // no complete reply within the overall limit
    Unreachable,   // connection refused or failed
    HttpError,     // an HTTP status other than 200 without a SOAP fault
    Fault,         // a SOAP fault
    Oversized,     // reply beyond kMaxTimeReplyBytes
    Malformed,     // not XML, or no SOAP envelope
    NoTime,        // no UTCDateTime in the reply
    BadTime,       // a field missing, not a number or out of range
    TransferError  // any other transfer failure
};

struct DeviceTime {
    TimeStatus status = TimeStatus::Malformed;
    std::int64_t utcSeconds = 0;  // the device's UTC time, seconds since 1970 (status Ok)
    long httpStatus = 0;
    std::string detail;  // the fault's subcode or the transfer error, for the trace
};

std::string buildGetSystemDateAndTime();
DeviceTime parseSystemDateAndTime(std::string_view reply);
const char* timeStatusName(TimeStatus status);

// Seconds since 1970 of a proleptic Gregorian UTC date and time; fields unchecked.
std::int64_t utcSecondsOf(int year, int month, int day, int hour, int minute, int second);

// POSTs the request to `xaddr` (http://ADDR:PORT/onvif/device_service) and parses the reply.
// The overall limit `timeoutMs` is protocol time, scaled by `clock`.
DeviceTime getSystemDateAndTime(const std::string& xaddr, const Clock& clock,
                                long timeoutMs = kTimeRequestMs, TraceLog* trace = nullptr);

}  // namespace lanrove::onvif
