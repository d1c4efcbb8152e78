#pragma once
// The discovery datagrams: 512 bytes, numbers big-endian, addresses in network byte order.
// This file only builds and reads byte buffers; sockets live in datagram_link.h. Every reader
// stays inside the datagram whatever its length fields claim.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "discovery/camera_entry.h"
#include "support/base64.h"
#include "support/text.h"

namespace lanrove::dgram {

inline constexpr std::size_t kSize = 512;
inline constexpr std::size_t kPayloadOffset = 32;
inline constexpr std::size_t kMaxPayload = kSize - kPayloadOffset;  // 480
inline constexpr std::uint16_t kPcPort = 10000;
inline constexpr std::uint16_t kCameraPort = 10001;

inline constexpr std::uint16_t kSearchRequest = 0x4031;
inline constexpr std::uint16_t kSearchReply = 0x0031;
inline constexpr std::uint16_t kSearchAck = 0x8031;
inline constexpr std::uint16_t kIpSetting = 0x1031;
inline constexpr std::uint16_t kIpSettingReply = 0x2031;

inline constexpr std::uint16_t kArgSearch = 1;
inline constexpr std::uint16_t kArgAck = 3;
inline constexpr std::uint16_t kArgIpSetting = 5;
inline constexpr std::uint16_t kPcProtocolVersion = 2;

// Header offsets.
inline constexpr std::size_t kOffCode = 0;
inline constexpr std::size_t kOffMac = 2;
inline constexpr std::size_t kOffArgument = 8;
inline constexpr std::size_t kOffVersion = 10;
inline constexpr std::size_t kOffReplyIp = 32;  // a search reply's announced address

// IP-setting payload sizes.
inline constexpr std::size_t kIpSettingV1Size = 18;
inline constexpr std::size_t kCredentialField = 90;
inline constexpr std::size_t kIpSettingTitleOffset = 116;

using Datagram = std::array<std::uint8_t, kSize>;
using MacBytes = std::array<std::uint8_t, 6>;
using Payload = std::array<std::uint8_t, kMaxPayload>;

inline void putU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
inline std::uint16_t getU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline void putAddress(std::uint8_t* p, std::uint32_t hostOrder) {
    p[0] = static_cast<std::uint8_t>(hostOrder >> 24);
    p[1] = static_cast<std::uint8_t>(hostOrder >> 16);
    p[2] = static_cast<std::uint8_t>(hostOrder >> 8);
    p[3] = static_cast<std::uint8_t>(hostOrder);
}
inline std::uint32_t getAddress(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

// "aa:bb:cc:dd:ee:ff" (the found-MAC list) and "AA:BB:CC:DD:EE:FF" (records).
std::string macTextLower(const std::uint8_t* mac);
std::string macTextUpper(const std::uint8_t* mac);
// Six hexadecimal pairs separated by colons, either case. False (and `out` zero) otherwise.
bool parseMacText(std::string_view text, MacBytes& out);
bool parseMacText(std::u16string_view text, MacBytes& out);

// Decimal conversion that stops at the first non-digit; leading blanks and a sign are allowed,
// empty text gives 0.
long decimalValue(std::u16string_view text);

// Standard Base64 with "=" padding (the credentials field).
using ::lanrove::base64Decode;
using ::lanrove::base64Encode;

// A datagram as the PC sends it: zero-filled, header set, payload copied to byte 32 (at most
// 480 bytes). For search requests byte 33 holds `requestNo`.
void buildPcDatagram(Datagram& out, std::uint16_t code, const std::uint8_t* pcMac,
                     std::uint16_t argument, const std::uint8_t* payload, std::size_t length,
                     std::uint8_t requestNo);

// IP-setting payload from one settings record: 18 bytes for a record whose wProtoVer is not 2,
// 116 + N bytes otherwise (N = title bytes with their zero). Over-long credentials and titles
// are cut so that everything stays inside its field and the datagram. Returns the length.
std::size_t buildIpSettingPayload(const CameraEntry& record, const WireCodec& codec, Payload& out);

// Header fields of a received datagram (caller has checked the length).
inline std::uint16_t commandOf(const std::uint8_t* datagram) {
    return getU16(datagram + kOffCode);
}

// A search reply as a camera record (szNo is left for the table to set). False when the
// datagram is not exactly 512 bytes.
bool decodeSearchReply(const std::uint8_t* data, std::size_t length, const WireCodec& codec,
                       CameraEntry& out);
// An IP-setting reply. False when the datagram is not exactly 512 bytes.
bool decodeSetReply(const std::uint8_t* data, std::size_t length, SetReplyEntry& out);

}  // namespace lanrove::dgram
