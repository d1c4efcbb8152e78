#pragma once
// The firmware version check without the network: reading a camera's version text, comparing
// one component with the newest file's number (CheckVersion) and the firmware version text
// shown after an update (the walk over a camera's components is the runs' own). The camera queries
// are passed in as callables, so the runs layer plugs in its session check.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "discovery/camera_entry.h"
#include "firmware/firmware_catalogue.h"

namespace lanrove {

class TraceLog;

// Firmware status of a camera record (wFirmStatus).
inline constexpr std::uint16_t kFirmStatusNotChecked = 0;
inline constexpr std::uint16_t kFirmStatusUpdateReady = 4608;
inline constexpr std::uint16_t kFirmStatusInvalid = 4609;
inline constexpr std::uint16_t kFirmStatusLatest = 4610;

// CheckVersion results beyond the three statuses.
inline constexpr std::uint32_t kVersionNoInfo = 8195;       // no usable camera version
inline constexpr std::uint32_t kVersionUnreachable = 8196;  // camera not reached or queried

struct ParsedVersion {
    std::uint32_t dwMain = 0;  // the digits before the first "(", joined
    std::uint32_t dwDay = 0;   // the digits between that "(" and the next ")"
    bool bOk = false;
};

// "1.23(20100415)" gives 123 and 20100415. Fails without "(", without digits before it, with
// a ")" but no digits inside, or when the digits exceed 32 bits.
ParsedVersion ParseVersionText(std::u16string_view text);

// The camera's version text for a component kind (empty for an unknown kind).
std::u16string_view CameraVersionText(const CameraEntry& camera, std::uint16_t kind);

// Compares the camera's version of the row's component with the file number and writes the
// comparison's trace lines: 4610 latest (equal or newer), 4608 update ready, 8195 no usable
// camera version, 4609 not comparable.
std::uint32_t CompareFirmwareVersion(const CameraEntry& camera, const FirmwareCatalogueRow& row,
                                     std::uint32_t fileNumber, TraceLog& log);

// What refreshing the camera's version texts gave.
enum class VersionRefresh { Ok, OutsideSubnet, QueryFailed };
using RefreshVersions = std::function<VersionRefresh(CameraEntry& camera)>;

// The whole check of one component: the start line, the refresh of the camera's version texts
// (subnet check and session check, supplied by the caller), then the comparison. 8196 when the
// camera is outside the adapter's subnet or cannot be queried.
std::uint32_t CheckVersion(CameraEntry& camera, const FirmwareCatalogueRow& row,
                           std::uint32_t fileNumber, TraceLog& log, const RefreshVersions& refresh);

// The firmware version text of the main list after an update; nothing for generation 1 and
// for a method other than 1 or 2.
std::optional<std::u16string> BuildFirmVersionText(const CameraEntry& camera,
                                                   const FirmwareCatalogueRow& row);
// Writes it into szFirmVer (at most 127 characters); returns false when nothing was written.
bool SetFirmVersionText(CameraEntry& camera, const FirmwareCatalogueRow& row);

}  // namespace lanrove
