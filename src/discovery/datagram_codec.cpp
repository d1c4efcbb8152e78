#include "discovery/datagram_codec.h"

#include <cstdio>
#include <cstring>

#include "discovery/ipv4_address.h"

namespace lanrove::dgram {

namespace {

std::string macText(const std::uint8_t* m, const char* format) {
    char buf[24];
    std::snprintf(buf, sizeof buf, format, m[0], m[1], m[2], m[3], m[4], m[5]);
    return buf;
}

int hexDigit(char32_t c) {
    if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
    return -1;
}

template <typename Char>
bool parseMacImpl(std::basic_string_view<Char> text, MacBytes& out) {
    out.fill(0);
    if (text.size() != 17) return false;
    MacBytes mac{};
    for (std::size_t i = 0; i < 6; ++i) {
        const int hi = hexDigit(text[i * 3]);
        const int lo = hexDigit(text[i * 3 + 1]);
        if (hi < 0 || lo < 0) return false;
        if (i < 5 && text[i * 3 + 2] != Char(':')) return false;
        mac[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    out = mac;
    return true;
}

// Text up to its zero byte, cut at the datagram's end. A length field never cuts it: cameras
// whose length is smaller than the text still send the whole text.
std::string_view zeroTerminated(const std::uint8_t* data, std::size_t pos, std::size_t end) {
    if (pos >= end) return {};
    const auto* p = reinterpret_cast<const char*>(data + pos);
    std::size_t n = 0;
    while (n < end - pos && p[n] != 0) ++n;
    return {p, n};
}

// Converts `text` to the wire, dropping trailing characters until it fits into `maxBytes`.
std::string wireTextWithin(const WireCodec& codec, std::u16string_view text, std::size_t maxBytes) {
    std::string bytes = codec.toWire(text);
    while (bytes.size() > maxBytes && !text.empty()) {
        text.remove_suffix(1);
        bytes = codec.toWire(text);
    }
    if (bytes.size() > maxBytes) bytes.resize(maxBytes);
    return bytes;
}

// Wire texts stop at their first zero byte.
std::string_view untilZero(const std::string& s) {
    const std::size_t z = s.find('\0');
    return z == std::string::npos ? std::string_view(s) : std::string_view(s).substr(0, z);
}

}  // namespace

std::string macTextLower(const std::uint8_t* mac) {
    return macText(mac, "%02x:%02x:%02x:%02x:%02x:%02x");
}
std::string macTextUpper(const std::uint8_t* mac) {
    return macText(mac, "%02X:%02X:%02X:%02X:%02X:%02X");
}

bool parseMacText(std::string_view text, MacBytes& out) {
    return parseMacImpl(text, out);
}
bool parseMacText(std::u16string_view text, MacBytes& out) {
    return parseMacImpl(text, out);
}

long decimalValue(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        if (value > 100000000L) break;  // far beyond any port or flag; avoid overflow
        value = value * 10 + (text[i] - u'0');
    }
    return negative ? -value : value;
}

void buildPcDatagram(Datagram& out, std::uint16_t code, const std::uint8_t* pcMac,
                     std::uint16_t argument, const std::uint8_t* payload, std::size_t length,
                     std::uint8_t requestNo) {
    out.fill(0);
    putU16(out.data() + kOffCode, code);
    std::memcpy(out.data() + kOffMac, pcMac, 6);
    putU16(out.data() + kOffArgument, argument);
    putU16(out.data() + kOffVersion, kPcProtocolVersion);
    putU16(out.data() + 12, 1);
    putU16(out.data() + 14, 1);
    if (code == kSearchRequest) {
        out[kPayloadOffset] = 0;
        out[kPayloadOffset + 1] = requestNo;
    } else if (payload != nullptr && length > 0) {
        std::memcpy(out.data() + kPayloadOffset, payload,
                    length < kMaxPayload ? length : kMaxPayload);
    }
}

std::size_t buildIpSettingPayload(const CameraEntry& record, const WireCodec& codec, Payload& out) {
    out.fill(0);
    MacBytes mac{};
    parseMacText(fieldView(record.szMac), mac);  // an unparsable text leaves zeros
    std::memcpy(out.data(), mac.data(), 6);
    putAddress(out.data() + 6, ipv4::fromText(fieldView(record.szIp)));
    putAddress(out.data() + 10, ipv4::fromText(fieldView(record.szMask)));
    putAddress(out.data() + 14, ipv4::fromText(fieldView(record.szGateway)));
    if (record.wProtoVer != 2) return kIpSettingV1Size;

    // The credentials' Base64 must fit the 90-byte field: at most 66 source bytes.
    std::string credentials = codec.toWire(fieldView(record.szUser));
    credentials += ':';
    credentials += codec.toWire(fieldView(record.szPassword));
    std::string_view source = untilZero(credentials);
    if (source.size() > kCredentialField / 4 * 3)
        source = source.substr(0, kCredentialField / 4 * 3);
    const std::string encoded = base64Encode(source);
    std::memcpy(out.data() + 20, encoded.data(), encoded.size());

    out[110] = record.bNetOption;
    out[111] = static_cast<std::uint8_t>(decimalValue(fieldView(record.szSsl)));
    putU16(out.data() + 112, static_cast<std::uint16_t>(decimalValue(fieldView(record.szPort))));

    const std::size_t maxTitle = kMaxPayload - kIpSettingTitleOffset - 1;
    const std::string title = wireTextWithin(codec, fieldView(record.szTitle), maxTitle);
    const std::string_view titleBytes = untilZero(title);
    const std::size_t n = titleBytes.size() + 1;
    putU16(out.data() + 114, static_cast<std::uint16_t>(n));
    std::memcpy(out.data() + kIpSettingTitleOffset, titleBytes.data(), titleBytes.size());
    const std::size_t total = kIpSettingTitleOffset + n;
    putU16(out.data() + 18, static_cast<std::uint16_t>(total - 20));
    return total;
}

bool decodeSearchReply(const std::uint8_t* data, std::size_t length, const WireCodec& codec,
                       CameraEntry& out) {
    if (data == nullptr || length != kSize) return false;
    out.clear();
    setField(out.szMac, std::string_view(macTextUpper(data + kOffMac)));
    setField(out.szIp, std::string_view(ipv4::toText(getAddress(data + kOffReplyIp))));
    setField(out.szMask, std::string_view(ipv4::toText(getAddress(data + 36))));
    setField(out.szGateway, std::string_view(ipv4::toText(getAddress(data + 40))));
    out.wProtoVer = getU16(data + kOffVersion);
    if (out.wProtoVer != 2) return true;

    out.dwResult = getU16(data + 46);
    out.bFactory = data[48];
    out.bNetOption = data[49];
    setField(out.szSsl, std::string_view(std::to_string(data[50])));
    setField(out.szPort, std::string_view(std::to_string(getU16(data + 51))));

    // Variable part: each text is preceded by its length, which is used only to find the next
    // field; the text itself runs to its zero byte and the record's field cuts it. Positions
    // saturate at the datagram's end.
    const std::size_t end = kSize;
    std::size_t pos = 53;
    const auto readLength = [&]() -> std::size_t {
        if (pos + 2 > end) {
            pos = end;
            return 0;
        }
        const std::size_t n = getU16(data + pos);
        pos += 2;
        return n;
    };
    const auto advance = [&](std::size_t n) { pos = n > end - pos ? end : pos + n; };

    const std::size_t firmLength = readLength();
    setField(out.szFirmVer, std::u16string_view(codec.fromWire(zeroTerminated(data, pos, end))));
    advance(firmLength);
    const std::size_t titleLength = readLength();
    setField(out.szTitle, std::u16string_view(codec.fromWire(zeroTerminated(data, pos, end))));
    advance(titleLength);
    readLength();  // model length: not used, the model runs to its zero byte
    setField(out.szModel, std::u16string_view(codec.fromWire(zeroTerminated(data, pos, end))));
    return true;
}

bool decodeSetReply(const std::uint8_t* data, std::size_t length, SetReplyEntry& out) {
    if (data == nullptr || length != kSize) return false;
    std::memset(&out, 0, sizeof out);
    setField(out.szMac, std::string_view(macTextUpper(data + kOffMac)));
    out.wResult = getU16(data + kPayloadOffset);
    return true;
}

}  // namespace lanrove::dgram
