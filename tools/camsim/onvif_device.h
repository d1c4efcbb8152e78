#pragma once
// The ONVIF device service of a simulated device: GetSystemDateAndTime answers with the
// device's clock (the real UTC time plus its offset); anything else is a SOAP fault.

#include <chrono>
#include <string>
#include <string_view>

#include "fleet.h"

namespace lanrove::camsim {

inline constexpr std::size_t kMaxSoapRequestBytes = 64 * 1024;
inline constexpr const char* kSoapContentType = "application/soap+xml; charset=utf-8";

struct SoapAnswer {
    int status = 200;
    std::string body;
    std::string event;  // "time", "fault" ...
};

SoapAnswer answerDeviceService(const SimOnvif& device, std::string_view request,
                               std::chrono::system_clock::time_point realNow);

// The GetSystemDateAndTimeResponse for the device time `utc` (whole seconds).
std::string systemDateAndTimeResponse(std::chrono::system_clock::time_point utc);

}  // namespace lanrove::camsim
