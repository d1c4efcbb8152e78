// Round trips between the two ends of the discovery datagrams: a camera made from the input is
// encoded by the simulator and decoded by the PC; an IP setting made from the input is encoded
// by the PC and decoded by the simulator. What arrives must be what was sent, cut only where
// the layout says.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>

#include "camera_datagrams.h"
#include "discovery/datagram_codec.h"
#include "discovery/ipv4_address.h"
#include "fuzz_check.h"

using namespace lanrove;
using namespace lanrove::dgram;

namespace {

const WireCodec& pickCodec(FuzzedDataProvider& in) {
    static const WireCodec codecs[] = {WireCodec("CP1252"), WireCodec("CP932"), WireCodec("CP936"),
                                       WireCodec("CP950")};
    return codecs[in.ConsumeIntegralInRange<std::size_t>(0, 3)];
}

std::string untilZero(std::string s) {
    s.resize(std::min(s.size(), s.find('\0')));
    return s;
}

template <std::size_t N>
std::u16string cut(std::u16string s, const char16_t (&)[N]) {
    s.resize(std::min(s.size(), N - 1));
    return s;
}

// The simulator sends each text in the wire code page, cut at a zero byte and at 127 bytes.
std::u16string sentText(const WireCodec& codec, const std::string& utf8) {
    std::string bytes = untilZero(codec.toWire(fromUtf8(utf8)));
    bytes.resize(std::min<std::size_t>(bytes.size(), 127));
    return codec.fromWire(bytes);
}

void searchReply(FuzzedDataProvider& in, const WireCodec& codec) {
    camsim::SimCamera c;
    c.protoVer = in.ConsumeIntegralInRange(0, 3);
    for (auto& b : c.mac) b = in.ConsumeIntegral<std::uint8_t>();
    const std::uint32_t ip = in.ConsumeIntegral<std::uint32_t>();
    const std::uint32_t mask = in.ConsumeIntegral<std::uint32_t>();
    const std::uint32_t gateway = in.ConsumeIntegral<std::uint32_t>();
    c.ip = ipv4::toText(ip);
    c.mask = ipv4::toText(mask);
    c.gateway = ipv4::toText(gateway);
    c.port = in.ConsumeIntegralInRange(1, 65535);
    c.ssl = in.ConsumeBool();
    c.factory = in.ConsumeBool();
    c.netOption = in.ConsumeIntegral<std::uint8_t>();
    c.firmVer = in.ConsumeRandomLengthString(200);
    c.title = in.ConsumeRandomLengthString(200);
    c.model = in.ConsumeRandomLengthString(200);

    const Datagram d = camsim::encodeSearchReply(c, codec);
    CameraEntry e;
    FUZZ_CHECK(decodeSearchReply(d.data(), d.size(), codec, e));
    FUZZ_CHECK(fieldUtf8(e.szMac) == macTextUpper(c.mac));
    FUZZ_CHECK(fieldUtf8(e.szIp) == c.ip && fieldUtf8(e.szMask) == c.mask &&
               fieldUtf8(e.szGateway) == c.gateway);
    FUZZ_CHECK(e.wProtoVer == c.protoVer);
    if (c.protoVer != 2) return;
    FUZZ_CHECK(e.dwResult == kResultAccepted && e.bFactory == c.factory &&
               e.bNetOption == c.netOption);
    FUZZ_CHECK(fieldUtf8(e.szSsl) == (c.ssl ? "1" : "0"));
    FUZZ_CHECK(fieldUtf8(e.szPort) == std::to_string(c.port));
    FUZZ_CHECK(fieldView(e.szFirmVer) == cut(sentText(codec, c.firmVer), e.szFirmVer));
    FUZZ_CHECK(fieldView(e.szTitle) == cut(sentText(codec, c.title), e.szTitle));
    FUZZ_CHECK(fieldView(e.szModel) == cut(sentText(codec, c.model), e.szModel));
}

void ipSetting(FuzzedDataProvider& in, const WireCodec& codec) {
    CameraEntry r;
    r.clear();
    MacBytes mac{};
    for (auto& b : mac) b = in.ConsumeIntegral<std::uint8_t>();
    const std::uint32_t ip = in.ConsumeIntegral<std::uint32_t>();
    const std::uint32_t mask = in.ConsumeIntegral<std::uint32_t>();
    const std::uint32_t gateway = in.ConsumeIntegral<std::uint32_t>();
    setField(r.szMac, std::string_view(macTextUpper(mac.data())));
    setField(r.szIp, std::string_view(ipv4::toText(ip)));
    setField(r.szMask, std::string_view(ipv4::toText(mask)));
    setField(r.szGateway, std::string_view(ipv4::toText(gateway)));
    r.wProtoVer = in.ConsumeIntegralInRange<std::uint16_t>(1, 2);
    r.bNetOption = in.ConsumeIntegral<std::uint8_t>();
    const bool ssl = in.ConsumeBool();
    const int port = in.ConsumeIntegralInRange(0, 65535);
    setField(r.szSsl, std::string_view(ssl ? "1" : "0"));
    setField(r.szPort, std::string_view(std::to_string(port)));
    setField(r.szUser, std::string_view(in.ConsumeRandomLengthString(100)));
    setField(r.szPassword, std::string_view(in.ConsumeRandomLengthString(100)));
    setField(r.szTitle, std::string_view(in.ConsumeRemainingBytesAsString()));

    Payload payload;
    const std::size_t n = buildIpSettingPayload(r, codec, payload);
    FUZZ_CHECK(n <= kMaxPayload);
    Datagram d;
    buildPcDatagram(d, kIpSetting, mac.data(), kArgIpSetting, payload.data(), n, 0);
    camsim::IpSettingCommand cmd;
    FUZZ_CHECK(camsim::decodeIpSettingCommand(d.data(), d.size(), r.wProtoVer, cmd));
    FUZZ_CHECK(cmd.mac == mac && cmd.ip == ip && cmd.mask == mask && cmd.gateway == gateway);
    if (r.wProtoVer != 2) return;
    // The credentials field holds the Base64 of at most 66 bytes of "user:password".
    std::string credentials =
        untilZero(codec.toWire(fieldView(r.szUser)) + ':' + codec.toWire(fieldView(r.szPassword)));
    credentials.resize(std::min<std::size_t>(credentials.size(), 66));
    FUZZ_CHECK(cmd.credentialsDecoded && cmd.credentials == credentials);
    FUZZ_CHECK(cmd.netOption == r.bNetOption && cmd.ssl == ssl && cmd.port == port);
    // The title is cut by whole characters until it fits behind the fixed fields.
    const std::string title = untilZero(codec.toWire(fieldView(r.szTitle)));
    FUZZ_CHECK(cmd.title.size() <= kMaxPayload - kIpSettingTitleOffset - 1);
    FUZZ_CHECK(title.compare(0, cmd.title.size(), cmd.title) == 0);
    if (title.size() <= kMaxPayload - kIpSettingTitleOffset - 1) FUZZ_CHECK(cmd.title == title);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const WireCodec& codec = pickCodec(in);
    if (in.ConsumeBool())
        searchReply(in, codec);
    else
        ipSetting(in, codec);
    return 0;
}
