// The texts of the cameras' CGI replies and what the program builds from them: the key lookup,
// the codec and camera status parsers, the recording settings table and its write-back
// parameters, the net.cgi request and the base URL. Input: one byte of choices, a key text and
// then the reply.

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "cgi/cgi.h"
#include "fuzz_check.h"

using namespace lanrove;

namespace {

bool plainByte(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// Bytes that a request line may carry after the percent-encoding.
bool onlyRequestBytes(std::string_view s, std::string_view allowed) {
    for (const char c : s)
        if (!plainByte(c) && c != '%' && allowed.find(c) == std::string_view::npos) return false;
    return true;
}

std::string percentDecode(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

template <std::size_t N>
bool terminated(const char16_t (&field)[N]) {
    return field[N - 1] == 0;
}

void findValue(const WireCodec& codec, std::string_view key, std::string_view reply) {
    const std::optional<std::string> raw = FindValueBytes(reply, key);
    std::u16string value = u"untouched";
    FUZZ_CHECK(FindValue(codec, reply, key, value) == raw.has_value());
    if (!raw) {
        FUZZ_CHECK(value == u"untouched");
        return;
    }
    // The value follows the first "key:(" and ends before a line end.
    const std::size_t start = reply.find(std::string(key) + ":(") + key.size() + 2;
    FUZZ_CHECK(reply.compare(start, raw->size(), *raw) == 0);
    FUZZ_CHECK(raw->find_first_of("\r\n") == std::string::npos);
    const char after = reply[start + raw->size()];
    FUZZ_CHECK(after == '\r' || after == '\n' || after == ')');
    FUZZ_CHECK(value == codec.fromWire(*raw));
}

void statusParsers(const WireCodec& codec, std::string_view reply) {
    CameraEntry e;
    e.clear();
    ParseCodecStatus(codec, reply, e);
    const std::string rtsp = FindValueBytes(reply, "rtsp_rtp").value_or("");
    if (rtsp.empty() || rtsp == "0") FUZZ_CHECK(e.nRtspRtp == (rtsp.empty() ? 0 : 1));
    for (const std::uint16_t version : {1, 2}) {
        e.clear();
        e.wProtoVer = version;
        ParseCamSetStatus(codec, reply, e);
        FUZZ_CHECK(terminated(e.szTitle) && terminated(e.szCamMainVer) &&
                   terminated(e.szCamSubVer) && terminated(e.szNetMainVer) &&
                   terminated(e.szNetSubVer) && terminated(e.szMecMainVer) &&
                   terminated(e.szIoMainVer));
    }
}

void recordSettings(const WireCodec& codec, std::string_view reply, bool currentRead) {
    RecordSettings table;
    if (!ParseRecordSettings(codec, reply, table)) {
        FUZZ_CHECK(reply.find(':') == std::string_view::npos && table.count() == 0);
        return;
    }
    std::size_t keys = 0;
    for (const RecordSetting& s : table.entries) {
        const std::string_view key(s.szKey, strnlen(s.szKey, kRecordTextWidth));
        FUZZ_CHECK(key.size() < kRecordTextWidth && terminated(s.szValue));
        FUZZ_CHECK(key.find_first_of(":\r\n") == std::string_view::npos);
        if (!key.empty()) FUZZ_CHECK(reply.find(std::string(key) + ':') != std::string::npos);
        keys += key.empty() ? 0 : 1;
    }
    FUZZ_CHECK(keys == table.count() && keys <= kRecordSettingCount);
    // Written back over an empty current table: every key once, nothing that breaks the line.
    const RecordSettings empty;
    const std::string params = BuildRecordWriteParams(codec, table, empty, currentRead);
    FUZZ_CHECK(onlyRequestBytes(params, "&="));
    std::size_t pairs = 0;
    for (const char c : params) pairs += c == '&' ? 1 : 0;
    std::size_t expected = 0;
    for (const RecordSetting& s : table.entries)
        if (s.szKey[0] != 0 && (!currentRead || s.szValue[0] != 0)) ++expected;
    FUZZ_CHECK(pairs == expected);
    // Restoring a table over itself after a good read sends nothing.
    FUZZ_CHECK(BuildRecordWriteParams(codec, table, table, true).empty());
}

void requestTexts(const WireCodec& codec, std::string_view text) {
    const std::string encoded = PercentEncode(text);
    FUZZ_CHECK(onlyRequestBytes(encoded, "") && encoded.size() <= 3 * text.size());
    FUZZ_CHECK(percentDecode(encoded) == text);

    TraceLog log;
    ScaledClock clock;
    CCGI cgi(clock, log, codec);
    CameraEntry e;
    e.clear();
    const std::u16string wide = codec.fromWire(text);
    setField(e.szTitle, std::u16string_view(wide));
    setField(e.szPort, std::u16string_view(wide));
    setField(e.szSsl, std::u16string_view(wide).substr(0, 1));
    FUZZ_CHECK(onlyRequestBytes(cgi.NetCgiPath(e), "/?&="));

    const std::u16string url = CCGI::MakeBaseUrl(wide, u"80", fieldView(e.szSsl));
    FUZZ_CHECK(url == u"ERROR" || ((url.starts_with(u"http://") || url.starts_with(u"https://")) &&
                                   url.ends_with(u":80/")));
    const int outside = CCGI::IsOutsideHostSubnet("192.168.0.10", "255.255.255.0", text);
    FUZZ_CHECK(outside == 0 || outside == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const WireCodec codecs[] = {WireCodec("CP1252"), WireCodec("CP932")};
    FuzzedDataProvider in(data, size);
    const auto choices = in.ConsumeIntegral<std::uint8_t>();
    const WireCodec& codec = codecs[choices & 1];
    const std::string key = in.ConsumeRandomLengthString(40);
    const std::string reply = in.ConsumeRemainingBytesAsString();
    findValue(codec, key, reply);
    statusParsers(codec, reply);
    recordSettings(codec, reply, (choices & 2) != 0);
    requestTexts(codec, key);
    return 0;
}
