// Writes the seed datagrams of the fuzz targets into DIR/datagram: real datagrams of both ends,
// made by the simulator's encoder and the PC's, alone and in bursts.

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "camera_datagrams.h"

using namespace lanrove;
using namespace lanrove::dgram;

namespace {

camsim::SimCamera camera(int version, std::uint8_t lastMacByte, const char* title) {
    camsim::SimCamera c;
    c.protoVer = version;
    const std::uint8_t mac[6] = {0x00, 0x80, 0x45, 0x00, 0x00, lastMacByte};
    std::memcpy(c.mac, mac, 6);
    c.ip = "192.168.0.30";
    c.gateway = "192.168.0.1";
    c.port = 8080;
    c.ssl = true;
    c.title = title;
    c.firmVer = "1.00";
    c.model = "KT-5200";
    return c;
}

void write(const std::string& path, const std::vector<Datagram>& datagrams, std::size_t cut = 0) {
    std::ofstream out(path, std::ios::binary);
    for (const Datagram& d : datagrams)
        out.write(reinterpret_cast<const char*>(d.data()), static_cast<std::streamsize>(kSize));
    out.close();
    if (cut > 0) std::filesystem::resize_file(path, kSize * datagrams.size() - cut);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = std::string(argv[1]) + "/datagram/";
    std::filesystem::create_directories(dir);
    const WireCodec codec;
    const std::uint8_t pcMac[6] = {2, 0, 0, 0, 0, 1};
    const Datagram v1 = camsim::encodeSearchReply(camera(1, 1, ""), codec);
    const Datagram v2 = camsim::encodeSearchReply(camera(2, 2, "Entrance"), codec);
    const Datagram set = camsim::encodeSetReply(camera(2, 2, ""), 201);
    Datagram request;
    buildPcDatagram(request, kSearchRequest, pcMac, kArgSearch, nullptr, 0, 1);
    Datagram ack;
    buildPcDatagram(ack, kSearchAck, pcMac, kArgAck, v2.data() + kOffMac, 6, 0);
    CameraEntry r;
    r.clear();
    r.wProtoVer = 2;
    setField(r.szMac, std::string_view("00:80:45:00:00:02"));
    setField(r.szIp, std::string_view("192.168.0.31"));
    setField(r.szMask, std::string_view("255.255.255.0"));
    setField(r.szGateway, std::string_view("192.168.0.1"));
    setField(r.szUser, std::string_view("admin"));
    setField(r.szPassword, std::string_view("12345"));
    setField(r.szPort, std::string_view("80"));
    setField(r.szSsl, std::string_view("0"));
    setField(r.szTitle, std::string_view("Yard"));
    Payload payload;
    Datagram ipSetting;
    buildPcDatagram(ipSetting, kIpSetting, pcMac, kArgIpSetting, payload.data(),
                    buildIpSettingPayload(r, codec, payload), 0);

    write(dir + "search-reply-v1", {v1});
    write(dir + "search-reply-v2", {v2});
    write(dir + "set-reply", {set});
    write(dir + "search-request", {request});
    write(dir + "acknowledgement", {ack});
    write(dir + "ip-setting-v2", {ipSetting});
    write(dir + "burst", {v2, v1, v2, set, request});
    write(dir + "short-reply", {v2}, 1);
    return 0;
}
