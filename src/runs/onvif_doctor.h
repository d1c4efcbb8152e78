#pragma once
// The doctor's checks of other makers' ONVIF cameras: an address outside every adapter's
// subnet, a device service that does not answer, and a clock that differs from this PC's by
// more than kOnvifSkewLimitS (recordings and event times go wrong). The time is asked with
// GetSystemDateAndTime, which needs no login.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "discovery/adapter_entry.h"
#include "discovery/camera_list_model.h"
#include "runs/onvif_discovery.h"
#include "runs/site_doctor.h"
#include "support/clock.h"
#include "support/trace_log.h"

namespace lanrove {

namespace finding {
inline constexpr const char* kOnvifClockSkew = "onvif-clock-skew";
inline constexpr const char* kOnvifServiceSilent = "onvif-service-silent";
}  // namespace finding

inline constexpr long kOnvifSkewLimitS = 5;

// What the device's clock said: its UTC time, or nothing when the service did not answer
// (`why` says how).
struct OnvifTimeAnswer {
    std::optional<std::chrono::system_clock::time_point> utc;
    std::string why;
};
using OnvifTimeQuery = std::function<OnvifTimeAnswer(const OnvifDevice& device)>;

// GetSystemDateAndTime over the device's first http(s) XAddr with an IPv4 host, within the
// request's overall limit (protocol time, scaled by `clock`).
OnvifTimeQuery systemTimeQuery(const Clock& clock, TraceLog* trace);

// The devices that are not one of the listed cameras of ours: a device at a listed camera's
// address is that camera (alsoOnvif[row] is set for it).
std::vector<OnvifDevice> devicesBesides(const std::vector<OnvifDevice>& all,
                                        const std::vector<std::string>& listedIps,
                                        std::vector<bool>& alsoOnvif);

// The IP column of the list's rows, in row order (what devicesBesides compares with).
std::vector<std::string> listedAddresses(const CameraListModel& list);

// Findings on the devices (recordIndex -1, mac and ip set), in device order. `now` is this
// PC's clock, read right after each answer.
std::vector<Finding> diagnoseOnvif(
    const std::vector<OnvifDevice>& devices, const std::vector<AdapterEntry>& adapters,
    const OnvifTimeQuery& query,
    const std::function<std::chrono::system_clock::time_point()>& now = [] {
        return std::chrono::system_clock::now();
    });

}  // namespace lanrove
