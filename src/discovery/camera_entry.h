#pragma once
// One camera's fixed-size record and the fixed tables that hold them. Text fields are UTF-16
// with the terminator counted in the width; a record set to all zeros is a free record.

#include <array>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace lanrove {

struct CameraEntry {
    char16_t szNo[10];
    char16_t szStatus[64];
    char16_t szModel[64];
    char16_t szMac[20];
    char16_t szIp[20];
    char16_t szPort[10];
    char16_t szSsl[5];
    char16_t szTitle[64];
    char16_t szFirmVer[128];
    std::uint16_t wProtoVer;
    char16_t szMask[20];
    char16_t szGateway[20];
    std::uint8_t bNetOption;
    std::uint32_t dwResult;
    std::uint8_t bFactory;
    char16_t szUser[64];
    char16_t szPassword[64];
    char16_t szCamMainVer[32];
    char16_t szCamSubVer[32];
    char16_t szNetMainVer[32];
    char16_t szNetSubVer[32];
    char16_t szMecMainVer[32];
    char16_t szIoMainVer[32];
    std::int32_t nRtspRtp;
    std::uint16_t wAspectRatio;
    std::uint16_t wRecStatus;
    std::uint16_t wFirmMethod;
    std::uint32_t dwSentBytes;
    std::uint32_t dwTotalBytes;
    std::uint16_t wFirmStatus;
    std::uint16_t wUploadStatus;

    void clear() { std::memset(this, 0, sizeof(*this)); }
    bool inUse() const { return szNo[0] != 0; }
    // The component version texts (not the combined firmware text) read from a camera.
    void copyComponentVersions(const CameraEntry& from) {
        std::memcpy(szCamMainVer, from.szCamMainVer, sizeof szCamMainVer);
        std::memcpy(szCamSubVer, from.szCamSubVer, sizeof szCamSubVer);
        std::memcpy(szNetMainVer, from.szNetMainVer, sizeof szNetMainVer);
        std::memcpy(szNetSubVer, from.szNetSubVer, sizeof szNetSubVer);
        std::memcpy(szMecMainVer, from.szMecMainVer, sizeof szMecMainVer);
        std::memcpy(szIoMainVer, from.szIoMainVer, sizeof szIoMainVer);
    }
};

static_assert(std::is_trivially_copyable_v<CameraEntry>);
static_assert(std::is_standard_layout_v<CameraEntry>);

inline constexpr std::size_t kCameraTableSize = 1000;
inline constexpr std::uint32_t kResultAccepted = 201;
inline constexpr std::uint32_t kResultOverlap = 999;
// The MAC answered the search from two addresses: shown in attention, no credentials sent.
inline constexpr std::uint32_t kResultSpoofed = 998;
inline constexpr const char16_t* kFactoryAddress = u"192.168.0.2";

struct CameraTable {
    std::array<CameraEntry, kCameraTableSize> rows;
    CameraTable() { clear(); }
    void clear() { std::memset(rows.data(), 0, sizeof(CameraEntry) * rows.size()); }
    CameraEntry& operator[](std::size_t i) { return rows[i]; }
    const CameraEntry& operator[](std::size_t i) const { return rows[i]; }
};

struct SetReplyEntry {
    char16_t szMac[20];
    std::uint16_t wResult;
};

}  // namespace lanrove
