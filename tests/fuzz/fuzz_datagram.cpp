// Received datagrams: the input is cut into datagrams of 512 bytes (a shorter rest keeps its
// own length) and handed to the PC's receive handling, which records what it sends, and to the
// simulator's handling of the same bytes.

#include <cstring>
#include <set>
#include <string>

#include "camera_datagrams.h"
#include "discovery/datagram_link.h"
#include "discovery/fake_transport.h"
#include "fuzz_check.h"

using namespace lanrove;
using namespace lanrove::dgram;

namespace {

constexpr std::uint8_t kPcMac[6] = {2, 0, 0, 0, 0, 1};

template <std::size_t N>
bool terminated(const char16_t (&field)[N]) {
    return field[N - 1] == 0;
}

bool recordIsSound(const CameraEntry& e) {
    return terminated(e.szNo) && terminated(e.szModel) && terminated(e.szMac) &&
           terminated(e.szIp) && terminated(e.szPort) && terminated(e.szSsl) &&
           terminated(e.szTitle) && terminated(e.szFirmVer) && terminated(e.szMask) &&
           terminated(e.szGateway);
}

camsim::SimCamera simCamera(int version, std::uint8_t lastMacByte) {
    camsim::SimCamera c;
    c.protoVer = version;
    const std::uint8_t mac[6] = {0x00, 0x80, 0x45, 0x00, 0x00, lastMacByte};
    std::memcpy(c.mac, mac, 6);
    c.ip = "192.168.0.2";
    c.title = "Gate";
    return c;
}

void receiveOnPc(const std::uint8_t* data, std::size_t size) {
    static auto* store = new CameraStore;  // large; kept between inputs
    store->resetForSearch();
    store->resetReplies();
    store->clearFoundMacs();
    testing::RecordingTransport transport;
    TraceLog log;
    ScaledClock clock;
    DatagramLink link(*store, transport, log, clock);
    AdapterEntry adapter;
    adapter.clear();
    std::memcpy(adapter.mac, kPcMac, 6);
    link.setAdapter(adapter);

    std::set<std::string> seen;
    int records = 0;
    int replies = 0;
    std::size_t acks = 0;
    for (std::size_t pos = 0; pos < size || pos == 0; pos += kSize) {
        const std::size_t length = std::min(kSize, size - pos);
        const std::uint8_t* d = data + pos;
        CameraEntry entry;
        FUZZ_CHECK(decodeSearchReply(d, length, link.codec(), entry) == (length == kSize));
        const bool fresh = length == kSize && seen.insert(macTextLower(d + kOffMac)).second;
        FUZZ_CHECK(link.handleDatagram(d, length) == fresh);
        if (!fresh) continue;
        if (commandOf(d) == kSearchReply) {
            const CameraEntry& stored = store->m_CamTable[static_cast<std::size_t>(records)];
            FUZZ_CHECK(++records == store->m_nFindWrite);
            FUZZ_CHECK(recordIsSound(stored));
            FUZZ_CHECK(fieldUtf8(stored.szNo) == std::to_string(records));
            FUZZ_CHECK(fieldUtf8(stored.szMac) == macTextUpper(d + kOffMac));
            // Each accepted reply is acknowledged with its camera's MAC, from the PC's MAC.
            const auto sent = transport.sent();
            FUZZ_CHECK(sent.size() == ++acks);
            const Datagram& ack = sent.back().datagram;
            FUZZ_CHECK(commandOf(ack.data()) == kSearchAck);
            FUZZ_CHECK(std::memcmp(ack.data() + kOffMac, kPcMac, 6) == 0);
            FUZZ_CHECK(std::memcmp(ack.data() + kPayloadOffset, d + kOffMac, 6) == 0);
        } else if (commandOf(d) == kIpSettingReply) {
            FUZZ_CHECK(++replies == store->m_nReplyWrite);
            FUZZ_CHECK(store->m_SetReplies[replies - 1].wResult == getU16(d + kPayloadOffset));
        }
    }
    FUZZ_CHECK(transport.sent().size() == acks);
    FUZZ_CHECK(store->m_nFindWrite == records && store->m_nReplyWrite == replies);
}

void receiveOnCameras(const std::uint8_t* data, std::size_t size) {
    camsim::Fleet fleet;
    fleet.cameras = {simCamera(1, 1), simCamera(2, 2)};
    camsim::DatagramResponder responder(fleet, WireCodec());
    for (std::size_t pos = 0; pos < size; pos += kSize) {
        const std::size_t length = std::min(kSize, size - pos);
        std::vector<camsim::Outgoing> out;
        std::vector<std::size_t> changed;
        responder.handle(data + pos, length, out, changed);
        for (const auto& o : out) FUZZ_CHECK(o.bytes.size() == kSize && o.camera < 2);
        for (const std::size_t i : changed) FUZZ_CHECK(i < 2);
        if (length == kSize && commandOf(data + pos) == kSearchRequest) FUZZ_CHECK(out.size() == 2);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    size = std::min(size, 64 * kSize);  // far below the table's 1000 records
    receiveOnPc(data, size);
    receiveOnCameras(data, size);
    return 0;
}
