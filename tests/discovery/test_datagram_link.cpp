#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "discovery/datagram_link.h"
#include "discovery/send_schedule.h"
#include "fake_lan.h"
#include "fake_transport.h"
#include "log_capture.h"

using namespace lanrove;
using namespace lanrove::dgram;
using lanrove::testing::FakeAir;
using lanrove::testing::LogCapture;
using lanrove::testing::RecordingTransport;

namespace {

Datagram cameraDatagram(std::uint16_t code, std::uint8_t lastMacByte, std::uint16_t version = 2) {
    Datagram d{};
    putU16(d.data(), code);
    const std::uint8_t mac[6] = {0x00, 0x80, 0x45, 0x00, 0x00, lastMacByte};
    std::memcpy(d.data() + 2, mac, 6);
    putU16(d.data() + 10, version);
    putAddress(d.data() + 32, 0xC0A80002);
    if (code == kIpSettingReply) putU16(d.data() + 32, 201);
    return d;
}

struct DatagramLinkTest : ::testing::Test {
    LogCapture capture;
    CameraStore store;
    RecordingTransport transport;
    ScaledClock clock{0.01};
    DatagramLink link{store, transport, capture.log(), clock};

    DatagramLinkTest() {
        AdapterEntry a;
        a.clear();
        const std::uint8_t mac[6] = {2, 0, 0, 0, 0, 1};
        std::memcpy(a.mac, mac, 6);
        AdapterEntry::setText(a.szIp, "192.168.0.10");
        AdapterEntry::setText(a.szMask, "255.255.255.0");
        link.setAdapter(a);
    }
    bool feed(const Datagram& d, std::size_t length = kSize) {
        return link.handleDatagram(d.data(), length);
    }
};

}  // namespace

TEST_F(DatagramLinkTest, RepeatedReplyGivesOneRecordAndOneAcknowledgement) {
    const Datagram reply = cameraDatagram(kSearchReply, 0x11);
    EXPECT_TRUE(feed(reply));
    EXPECT_FALSE(feed(reply));
    ASSERT_EQ(store.m_nFindWrite, 1);
    EXPECT_EQ(fieldUtf8(store.m_CamTable[0].szNo), "1");
    EXPECT_EQ(fieldUtf8(store.m_CamTable[0].szMac), "00:80:45:00:00:11");
    EXPECT_EQ(store.foundMacCount(), 1u);
    EXPECT_TRUE(store.isFoundMac("00:80:45:00:00:11"));

    const auto sent = transport.sent();
    ASSERT_EQ(sent.size(), 1u);
    const Datagram& ack = sent[0].datagram;
    EXPECT_EQ(getU16(ack.data()), kSearchAck);
    EXPECT_EQ(getU16(ack.data() + 8), kArgAck);
    EXPECT_EQ(std::memcmp(ack.data() + 32, reply.data() + 2, 6), 0);
    const std::uint8_t pcMac[6] = {2, 0, 0, 0, 0, 1};
    EXPECT_EQ(std::memcmp(ack.data() + 2, pcMac, 6), 0);
    EXPECT_EQ(sent[0].adapterIp, "192.168.0.10");
    EXPECT_EQ(capture.count("Find == MacAddress Check = 00:80:45:00:00:11"), 1u);
}

TEST_F(DatagramLinkTest, FloodOfDistinctMacsStaysBoundedAndGetsNoAnswerOnceTheTableIsFull) {
    // 10 000 forged replies, each from a MAC of its own.
    Datagram reply = cameraDatagram(kSearchReply, 0);
    for (std::uint32_t i = 0; i < 10000; ++i) {
        reply[5] = static_cast<std::uint8_t>(i >> 16);
        reply[6] = static_cast<std::uint8_t>(i >> 8);
        reply[7] = static_cast<std::uint8_t>(i);
        feed(reply);
    }
    EXPECT_EQ(store.m_nFindWrite, static_cast<int>(kCameraTableSize));
    // One acknowledgement per stored camera, none for the rest.
    EXPECT_EQ(transport.count(kSearchAck), kCameraTableSize);
    EXPECT_EQ(store.foundMacCount(), CameraStore::kFoundMacLimit);
    EXPECT_EQ(capture.count("CamTable Full MacAddress"),
              CameraStore::kFoundMacLimit - kCameraTableSize);
    EXPECT_EQ(capture.count("Found MAC list full"), 1u);
    // A camera stored early is still known as a repeat; a new pass starts over.
    reply[5] = reply[6] = reply[7] = 0;
    EXPECT_FALSE(feed(reply));
    store.clearFoundMacs();
    EXPECT_EQ(store.foundMacCount(), 0u);
    reply[7] = 1;
    EXPECT_TRUE(feed(reply));
}

TEST_F(DatagramLinkTest, OneMacOverAndOverIsOneRecordAndOneAcknowledgement) {
    const Datagram reply = cameraDatagram(kSearchReply, 0x66);
    for (int i = 0; i < 100000; ++i) feed(reply);
    EXPECT_EQ(store.m_nFindWrite, 1);
    EXPECT_EQ(store.foundMacCount(), 1u);
    EXPECT_EQ(transport.count(kSearchAck), 1u);
}

TEST_F(DatagramLinkTest, SetReplyFirstBlocksLaterSearchReplyOfThatCamera) {
    EXPECT_TRUE(feed(cameraDatagram(kIpSettingReply, 0x22)));
    EXPECT_FALSE(feed(cameraDatagram(kSearchReply, 0x22)));
    EXPECT_EQ(store.m_nFindWrite, 0);
    EXPECT_EQ(transport.count(kSearchAck), 0u);
    SetReplyEntry r;
    ASSERT_TRUE(store.takeReply(r));
    EXPECT_EQ(fieldUtf8(r.szMac), "00:80:45:00:00:22");
    EXPECT_EQ(r.wResult, 201);
    // Another camera is not affected.
    EXPECT_TRUE(feed(cameraDatagram(kSearchReply, 0x23)));
    EXPECT_EQ(store.m_nFindWrite, 1);
}

TEST_F(DatagramLinkTest, WrongSizesAreIgnoredAndDoNotBlockTheCamera) {
    const Datagram reply = cameraDatagram(kSearchReply, 0x33);
    EXPECT_FALSE(feed(reply, 511));
    std::uint8_t longer[513] = {};
    std::memcpy(longer, reply.data(), kSize);
    EXPECT_FALSE(link.handleDatagram(longer, sizeof longer));
    EXPECT_EQ(store.foundMacCount(), 0u);
    EXPECT_EQ(store.m_nFindWrite, 0);
    EXPECT_TRUE(feed(reply));
    EXPECT_EQ(store.m_nFindWrite, 1);
}

TEST_F(DatagramLinkTest, UnknownCommandIsTracedAndCountsAsSeen) {
    EXPECT_TRUE(feed(cameraDatagram(0x5031, 0x44)));
    EXPECT_EQ(capture.count("Non Command(20529) MacAddress(00:80:45:00:00:44)"), 1u);
    EXPECT_FALSE(feed(cameraDatagram(kSearchReply, 0x44)));
    EXPECT_EQ(store.m_nFindWrite, 0);
}

TEST_F(DatagramLinkTest, SearchRequestNumberOneEmptiesTheFoundList) {
    feed(cameraDatagram(kSearchReply, 0x55));
    ASSERT_EQ(store.foundMacCount(), 1u);
    for (std::uint8_t n : {2, 3}) {
        store.m_bySendCount = n;
        link.sendDatagram(kSearchRequest, nullptr, 0, kArgSearch);
        EXPECT_TRUE(store.isFoundMac("00:80:45:00:00:55")) << int(n);
        EXPECT_EQ(store.foundMacCount(), 1u) << int(n);
    }
    store.m_bySendCount = 1;
    link.sendDatagram(kSearchRequest, nullptr, 0, kArgSearch);
    EXPECT_EQ(store.foundMacCount(), 0u);
    const auto sent = transport.sent();
    ASSERT_EQ(sent.size(), 4u);  // the ack and three requests
    EXPECT_EQ(sent[1].datagram[33], 2);
    EXPECT_EQ(sent[2].datagram[33], 3);
    EXPECT_EQ(sent[3].datagram[33], 1);
    EXPECT_EQ(getU16(sent[3].datagram.data() + 8), kArgSearch);
    // The camera is accepted again in the new round.
    EXPECT_TRUE(feed(cameraDatagram(kSearchReply, 0x55)));
}

TEST_F(DatagramLinkTest, FullTableIsNotAcknowledgedAndNeverOverruns) {
    for (int i = 0; i < 1001; ++i) {
        Datagram d = cameraDatagram(kSearchReply, 0);
        d[6] = static_cast<std::uint8_t>(i >> 8);
        d[7] = static_cast<std::uint8_t>(i);
        ASSERT_TRUE(feed(d));
    }
    EXPECT_EQ(store.m_nFindWrite, 1000);
    EXPECT_EQ(fieldUtf8(store.m_CamTable[999].szNo), "1000");
    // The camera that found no room is not answered: it is not in the list.
    EXPECT_EQ(transport.count(kSearchAck), 1000u);
    EXPECT_EQ(capture.count("CamTable Full"), 1u);
}

TEST_F(DatagramLinkTest, StoredIndexStaysValidWhileASearchResetsTheTable) {
    // A receive thread from the last pass may still file a reply while the next search resets
    // the table: the index it reports must be the one its append wrote, never -1.
    struct Indices : DiscoveryEvents {
        std::mutex mutex;
        std::vector<int> seen;
        void searchReplyStored(int index) override {
            std::lock_guard lock(mutex);
            seen.push_back(index);
        }
    } events;
    link.setEvents(&events);
    std::atomic<bool> done{false};
    std::thread resetter([&] {
        while (!done.load()) {
            store.resetForSearch();
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    for (int i = 0; i < 1000; ++i) {  // never more than the table holds
        Datagram d = cameraDatagram(kSearchReply, 0);
        d[6] = static_cast<std::uint8_t>(i >> 8);
        d[7] = static_cast<std::uint8_t>(i);
        feed(d);
    }
    done = true;
    resetter.join();
    std::lock_guard lock(events.mutex);
    EXPECT_EQ(events.seen.size(), 1000u);
    for (const int index : events.seen) {
        EXPECT_GE(index, 0);
        EXPECT_LT(index, static_cast<int>(kCameraTableSize));
    }
}

TEST_F(DatagramLinkTest, ReceiveThreadStartsAndStopsWithTheStopFlag) {
    // The thread binds a wildcard socket but nothing is sent to it; it only has to notice the
    // flag within one (scaled) receive time-out and release its lock.
    link.startRecvThread();
    EXPECT_EQ(store.m_bStop.load(), 0u);
    EXPECT_TRUE(link.recvThreadRunning());
    store.m_bStop = 1;
    for (int i = 0; i < 500 && link.recvThreadRunning(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(link.recvThreadRunning());
    EXPECT_TRUE(link.waitRecvIdle(std::chrono::seconds(5)));
    EXPECT_EQ(link.stopRecvThread(), 0);  // it closed its own handle
    EXPECT_EQ(capture.count("RecvProc Start."), 1u);
    EXPECT_EQ(capture.count("RecvProc End."), 1u);
    EXPECT_EQ(capture.count("Firmup Thread:m_hRecvThread"), 0u);
}

TEST(DatagramLink, ReceiveTimeOutNeverScalesToBlockingForGood) {
    // A clock that scales every protocol wait to nothing: the receive time-out must still be
    // a time-out, or the thread would sit in its receive and never see the stop flag.
    struct InstantClock final : Clock {
        std::chrono::steady_clock::time_point now() const override {
            return std::chrono::steady_clock::now();
        }
        Millis scaled(Millis) const override { return Millis(0); }
    };
    InstantClock clock;
    LogCapture capture;
    CameraStore store;
    RecordingTransport transport;
    DatagramLink link{store, transport, capture.log(), clock};
    link.startRecvThread();
    // Let the thread reach its receive before it is told to stop.
    for (int i = 0; i < 300 && capture.count("RecvProc Start.") == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    store.m_bStop = 1;
    for (int i = 0; i < 300 && link.recvThreadRunning(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(link.recvThreadRunning());
    EXPECT_EQ(capture.count("RecvProc End."), 1u);
}

TEST_F(DatagramLinkTest, StartingAgainStopsARunningReceiveThread) {
    store.noteFoundMac("00:00:00:00:00:01");
    link.startRecvThread();
    EXPECT_EQ(store.foundMacCount(), 0u);
    link.startRecvThread();  // first one still runs with the stop flag clear
    EXPECT_EQ(capture.count("RecvProc Stop!!!"), 1u);
    EXPECT_EQ(capture.count("LanroveSetupDlg Firmup Thread:m_hRecvThread Stop."), 1u);
    EXPECT_EQ(capture.count("LanroveSetupDlg Firmup Thread:m_hRecvThread Handle Close."), 1u);
    EXPECT_TRUE(link.recvThreadRunning());
    EXPECT_NE(link.stopRecvThread(), 0);
    EXPECT_EQ(capture.count("RecvProc End."), 2u);
}

namespace {

// Sends nowhere; the receive side is the fake network.
struct AirTransport final : DatagramTransport {
    FakeAir air;
    int send(const AdapterEntry&, const Datagram&) override { return 0; }
    std::unique_ptr<DatagramReceiver> makeReceiver(TraceLog&) override {
        return air.makeReceiver();
    }
};

}  // namespace

TEST(DatagramLink, StartReturnsOnlyOnceTheReceiveSocketIsOpen) {
    // A request goes out as soon as the start returns; a reply that comes back at once must
    // find the socket open even when opening it is slow.
    LogCapture capture;
    CameraStore store;
    AirTransport transport;
    ScaledClock clock(0.01);
    DatagramLink link{store, transport, capture.log(), clock};
    transport.air.openDelayMs = 100;
    ASSERT_EQ(link.startRecvThread(), 0);
    EXPECT_TRUE(transport.air.deliver(cameraDatagram(kSearchReply, 0x66)));
    const auto written = [&] {
        std::lock_guard lock(store.m_csCamTable);
        return store.m_nFindWrite;
    };
    for (int i = 0; i < 500 && written() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(written(), 1);
    EXPECT_EQ(capture.count("RecvProc Start."), 1u);
    EXPECT_NE(link.stopRecvThread(), 0);
}

TEST(DatagramLink, StartReportsASocketThatCouldNotBeOpened) {
    LogCapture capture;
    CameraStore store;
    AirTransport transport;
    ScaledClock clock(0.01);
    DatagramLink link{store, transport, capture.log(), clock};
    transport.air.openError = EADDRINUSE;
    EXPECT_EQ(link.startRecvThread(), EADDRINUSE);
    EXPECT_EQ(capture.count("RecvProc Start."), 0u);
    // The thread ended at once but left its handle: the next stop procedure closes it.
    store.m_bStop = 1;
    EXPECT_EQ(link.stopRecvThread(), 1);
    EXPECT_EQ(capture.count("LanroveSetupDlg Firmup Thread:m_hRecvThread Handle Close."), 1u);
    EXPECT_EQ(capture.count("LanroveSetupDlg Firmup Thread:m_hRecvThread Stop."), 0u);
}

namespace {

Datagram replyAt(std::uint8_t lastMacByte, std::uint32_t announced) {
    Datagram d = cameraDatagram(kSearchReply, lastMacByte);
    putAddress(d.data() + kOffReplyIp, announced);
    return d;
}

}  // namespace

TEST_F(DatagramLinkTest, RepeatsOfTheSameReplyAreNeverMarked) {
    const Datagram reply = replyAt(0x31, 0xC0A80031);
    EXPECT_TRUE(link.handleDatagram(reply.data(), kSize, 0xC0A80031));
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(link.handleDatagram(reply.data(), kSize, 0xC0A80031));
    // An unknown source (a receiver that cannot tell) is no second address either.
    EXPECT_FALSE(link.handleDatagram(reply.data(), kSize, 0));
    EXPECT_TRUE(store.spoofedAddresses("00:80:45:00:00:31").empty());
    EXPECT_EQ(capture.count("two addresses"), 0u);
}

TEST_F(DatagramLinkTest, SecondAddressForOneMacIsMarkedOnceUntilANewSearch) {
    EXPECT_TRUE(link.handleDatagram(replyAt(0x32, 0xC0A80032).data(), kSize, 0xC0A80032));
    // Another device announces another address for the same MAC.
    EXPECT_FALSE(link.handleDatagram(replyAt(0x32, 0xC0A80099).data(), kSize, 0xC0A80099));
    EXPECT_EQ(store.spoofedAddresses("00:80:45:00:00:32"), "192.168.0.50, 192.168.0.153");
    EXPECT_FALSE(link.handleDatagram(replyAt(0x32, 0xC0A80099).data(), kSize, 0xC0A80099));
    EXPECT_EQ(capture.count("answered one search from two addresses (192.168.0.50, "
                            "192.168.0.153)"),
              1u);
    ASSERT_EQ(store.m_nFindWrite, 1);  // the first reply stays the record

    // The same announced address from another source is a second device too.
    EXPECT_TRUE(link.handleDatagram(replyAt(0x33, 0xC0A80033).data(), kSize, 0xC0A80033));
    EXPECT_FALSE(link.handleDatagram(replyAt(0x33, 0xC0A80033).data(), kSize, 0xC0A80077));
    EXPECT_NE(store.spoofedAddresses("00:80:45:00:00:33").find("192.168.0.119"), std::string::npos);

    // A new search starts without marks; the found list of a new pass keeps the origins.
    store.clearFoundMacs();
    EXPECT_TRUE(link.handleDatagram(replyAt(0x34, 0xC0A80034).data(), kSize, 0xC0A80034));
    store.clearFoundMacs();
    EXPECT_TRUE(link.handleDatagram(replyAt(0x34, 0xC0A80035).data(), kSize, 0xC0A80035));
    EXPECT_FALSE(store.spoofedAddresses("00:80:45:00:00:34").empty());
    store.resetForSearch();
    EXPECT_TRUE(store.spoofedAddresses("00:80:45:00:00:32").empty());
    store.clearFoundMacs();
    EXPECT_TRUE(link.handleDatagram(replyAt(0x32, 0xC0A80099).data(), kSize, 0xC0A80099));
    EXPECT_TRUE(store.spoofedAddresses("00:80:45:00:00:32").empty());
}

TEST_F(DatagramLinkTest, FloodOfInventedMacsKeepsTheOriginTableBounded) {
    for (int i = 0; i < static_cast<int>(CameraStore::kMaxReplyOrigins) + 500; ++i) {
        Datagram d = replyAt(0, 0xC0A80000u + static_cast<std::uint32_t>(i));
        d[kOffMac + 4] = static_cast<std::uint8_t>(i >> 8);
        d[kOffMac + 5] = static_cast<std::uint8_t>(i);
        d[kOffMac + 3] = static_cast<std::uint8_t>(i >> 16);
        link.handleDatagram(d.data(), kSize, 0);
    }
    EXPECT_EQ(store.m_replyOrigins.size(), CameraStore::kMaxReplyOrigins);
    EXPECT_TRUE(store.m_spoofedMacs.empty());
}

// ---- Links of passes that run side by side: one table, flags of their own.

TEST(DatagramLinkPasses, EachPassHasItsOwnFoundMacsStopFlagAndRequestCount) {
    LogCapture capture;
    CameraStore store;
    RecordingTransport transport;
    ScaledClock clock(0.01);
    PassFlags first;
    PassFlags second;
    DatagramLink a{store, first, 0, transport, capture.log(), clock, WireCodec()};
    DatagramLink b{store, second, 1, transport, capture.log(), clock, WireCodec()};
    const Datagram reply = cameraDatagram(kSearchReply, 0x21);
    // The same camera heard on both adapters: each pass takes it once, tagged with its pass.
    EXPECT_TRUE(a.handleDatagram(reply.data(), reply.size()));
    EXPECT_TRUE(b.handleDatagram(reply.data(), reply.size()));
    EXPECT_FALSE(a.handleDatagram(reply.data(), reply.size()));
    ASSERT_EQ(store.m_nFindWrite, 2);
    EXPECT_EQ(store.m_nAppendedBy[0], 0);
    EXPECT_EQ(store.m_nAppendedBy[1], 1);
    EXPECT_EQ(store.foundMacCount(), 0u);  // the store's own list is not the passes'
    EXPECT_EQ(first.foundMacCount(), 1u);

    // Request 1 of one pass empties only that pass's list.
    second.m_bySendCount = 1;
    EXPECT_EQ(b.sendDatagram(kSearchRequest, nullptr, 0, kArgSearch), 0);
    EXPECT_EQ(second.foundMacCount(), 0u);
    EXPECT_EQ(first.foundMacCount(), 1u);
    EXPECT_EQ(transport.sent().back().datagram[33], 1);
    // A search pass keeps what its receive thread heard before its own first request.
    first.m_bClearOnFirstRequest = false;
    first.m_bySendCount = 1;
    EXPECT_EQ(a.sendDatagram(kSearchRequest, nullptr, 0, kArgSearch), 0);
    EXPECT_EQ(first.foundMacCount(), 1u);
    first.m_bySendCount = 0;

    // A schedule counts and stops in its link's pass.
    SendScheduler scheduler(a, store, capture.log(), clock);
    for (int i = 0; i < kSendRounds; ++i) EXPECT_TRUE(scheduler.tick(SendSchedule::Search));
    EXPECT_FALSE(scheduler.tick(SendSchedule::Search));
    EXPECT_EQ(first.m_bStop.load(), 1u);
    EXPECT_EQ(second.m_bStop.load(), 0u);
    EXPECT_EQ(store.m_bStop.load(), 0u);
    EXPECT_EQ(store.m_bySendCount.load(), 0u);
}

TEST(DatagramLinkPasses, TwoReceiveThreadsRunAtOnceAndStopOnTheirOwnFlags) {
    LogCapture capture;
    CameraStore store;
    struct TwoSegments final : DatagramTransport {
        FakeAir air;
        int send(const AdapterEntry&, const Datagram&) override { return 0; }
        std::unique_ptr<DatagramReceiver> makeReceiver(TraceLog&) override {
            return air.makeReceiver();
        }
    } transport;
    ScaledClock clock(0.01);
    PassFlags first;
    PassFlags second;
    DatagramLink a{store, first, 0, transport, capture.log(), clock, WireCodec()};
    DatagramLink b{store, second, 1, transport, capture.log(), clock, WireCodec()};
    AdapterEntry ea{};
    ea.clear();
    AdapterEntry::setText(ea.szIp, "10.0.0.1");
    AdapterEntry eb = ea;
    AdapterEntry::setText(eb.szIp, "10.0.1.1");
    a.setAdapter(ea);
    b.setAdapter(eb);
    transport.air.setSegment("10.0.0.1", "a");
    transport.air.setSegment("10.0.1.1", "b");
    ASSERT_EQ(a.startRecvThread(), 0);
    ASSERT_EQ(b.startRecvThread(), 0);
    EXPECT_EQ(transport.air.openReceivers(), 2);
    // Delivered on one segment, heard by that adapter's thread only.
    EXPECT_TRUE(transport.air.deliverOn("b", cameraDatagram(kSearchReply, 0x31)));
    const auto written = [&] {
        std::lock_guard lock(store.m_csCamTable);
        return store.m_nFindWrite;
    };
    for (int i = 0; i < 500 && written() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(written(), 1);
    EXPECT_EQ(store.m_nAppendedBy[0], 1);
    EXPECT_TRUE(second.isFoundMac("00:80:45:00:00:31"));
    EXPECT_FALSE(first.isFoundMac("00:80:45:00:00:31"));

    // The first pass ends; the second still listens. What reaches the ended pass's socket
    // before its thread goes is not taken.
    first.m_bStop = 1;
    transport.air.deliverOn("a", cameraDatagram(kSearchReply, 0x32));
    for (int i = 0; i < 500 && a.recvThreadRunning(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_FALSE(a.recvThreadRunning());
    EXPECT_TRUE(b.recvThreadRunning());
    EXPECT_EQ(transport.air.openReceivers(), 1);
    EXPECT_EQ(written(), 1);
    EXPECT_FALSE(first.isFoundMac("00:80:45:00:00:32"));
    second.m_bStop = 1;
    b.stopRecvThread();
    EXPECT_FALSE(b.recvThreadRunning());
    EXPECT_EQ(transport.air.openReceivers(), 0);
}
