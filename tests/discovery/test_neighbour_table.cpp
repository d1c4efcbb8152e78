// The neighbour-table reader's pure parts: the dump reply scan, what each state means and the
// kernel's resolution time.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <cstring>
#include <vector>

#include "discovery/neighbour_table.h"

using namespace lanrove;

namespace {

constexpr std::uint32_t kTarget = 0xC0A80019;  // 192.168.0.25

void appendMessage(std::vector<std::uint8_t>& out, std::uint16_t type, std::uint32_t sequence,
                   const std::vector<std::uint8_t>& body) {
    nlmsghdr h{};
    h.nlmsg_len = static_cast<std::uint32_t>(NLMSG_LENGTH(body.size()));
    h.nlmsg_type = type;
    h.nlmsg_seq = sequence;
    const std::size_t at = out.size();
    out.resize(at + NLMSG_ALIGN(h.nlmsg_len), 0);
    std::memcpy(out.data() + at, &h, sizeof h);
    if (!body.empty()) std::memcpy(out.data() + at + NLMSG_HDRLEN, body.data(), body.size());
}

std::vector<std::uint8_t> neighbourBody(int ifIndex, std::uint16_t state, std::uint32_t address,
                                        bool withMac) {
    std::vector<std::uint8_t> body(NLMSG_ALIGN(sizeof(ndmsg)), 0);
    ndmsg n{};
    n.ndm_family = AF_INET;
    n.ndm_ifindex = ifIndex;
    n.ndm_state = state;
    std::memcpy(body.data(), &n, sizeof n);
    auto attribute = [&body](std::uint16_t type, const void* data, std::size_t length) {
        rtattr a{};
        a.rta_type = type;
        a.rta_len = static_cast<std::uint16_t>(RTA_LENGTH(length));
        const std::size_t at = body.size();
        body.resize(at + RTA_ALIGN(a.rta_len), 0);
        std::memcpy(body.data() + at, &a, sizeof a);
        std::memcpy(body.data() + at + RTA_LENGTH(0), data, length);
    };
    const std::uint32_t net = htonl(address);
    attribute(NDA_DST, &net, 4);
    if (withMac) {
        const std::uint8_t mac[6] = {0, 0x1b, 0x7c, 0, 0, 1};
        attribute(NDA_LLADDR, mac, 6);
    }
    return body;
}

}  // namespace

TEST(NeighbourTable, ScanFindsTheEntryOfTheTargetOnItsInterfaceOnly) {
    std::vector<std::uint8_t> reply;
    appendMessage(reply, RTM_NEWNEIGH, 7, neighbourBody(3, kNudReachable, kTarget, true));
    appendMessage(reply, RTM_NEWNEIGH, 7, neighbourBody(2, kNudFailed, kTarget + 1, false));
    bool found = false;
    std::uint16_t state = 0;
    // Same address on another interface: not ours.
    EXPECT_EQ(scanNeighbourDump(reply.data(), reply.size(), 7, 2, kTarget, found, state),
              DumpScan::More);
    EXPECT_FALSE(found);
    EXPECT_EQ(scanNeighbourDump(reply.data(), reply.size(), 7, 3, kTarget, found, state),
              DumpScan::More);
    EXPECT_TRUE(found);
    EXPECT_EQ(state, kNudReachable);
    found = false;
    EXPECT_EQ(scanNeighbourDump(reply.data(), reply.size(), 7, 2, kTarget + 1, found, state),
              DumpScan::More);
    EXPECT_TRUE(found);
    EXPECT_EQ(state, kNudFailed);
}

TEST(NeighbourTable, ScanEndsOnDoneAndErrorAndSkipsEarlierAnswers) {
    std::vector<std::uint8_t> reply;
    appendMessage(reply, RTM_NEWNEIGH, 6, neighbourBody(3, kNudReachable, kTarget, true));
    appendMessage(reply, NLMSG_DONE, 6, std::vector<std::uint8_t>(4, 0));
    appendMessage(reply, NLMSG_DONE, 7, std::vector<std::uint8_t>(4, 0));
    bool found = false;
    std::uint16_t state = 0;
    // The stale answer (sequence 6) is skipped, so its entry does not count.
    EXPECT_EQ(scanNeighbourDump(reply.data(), reply.size(), 7, 3, kTarget, found, state),
              DumpScan::Done);
    EXPECT_FALSE(found);

    std::vector<std::uint8_t> error;
    appendMessage(error, NLMSG_ERROR, 7, std::vector<std::uint8_t>(sizeof(nlmsgerr), 0));
    EXPECT_EQ(scanNeighbourDump(error.data(), error.size(), 7, 3, kTarget, found, state),
              DumpScan::Error);
}

TEST(NeighbourTable, ScanRefusesTruncatedMessagesAndAttributes) {
    std::vector<std::uint8_t> reply;
    appendMessage(reply, RTM_NEWNEIGH, 7, neighbourBody(3, kNudReachable, kTarget, true));
    bool found = false;
    std::uint16_t state = 0;
    EXPECT_EQ(scanNeighbourDump(reply.data(), reply.size() - 4, 7, 3, kTarget, found, state),
              DumpScan::Error);
    // An attribute longer than its message.
    std::vector<std::uint8_t> body = neighbourBody(3, kNudReachable, kTarget, false);
    rtattr bad{};
    bad.rta_type = NDA_DST;
    bad.rta_len = 200;
    std::memcpy(body.data() + NLMSG_ALIGN(sizeof(ndmsg)), &bad, sizeof bad);
    std::vector<std::uint8_t> broken;
    appendMessage(broken, RTM_NEWNEIGH, 7, body);
    EXPECT_EQ(scanNeighbourDump(broken.data(), broken.size(), 7, 3, kTarget, found, state),
              DumpScan::Error);
    EXPECT_FALSE(found);
}

TEST(NeighbourTable, StatesWithAHardwareAddressAreResolvedFailedIsFree) {
    for (std::uint16_t s : {kNudReachable, kNudStale, kNudDelay, kNudProbe, kNudPermanent})
        EXPECT_EQ(outcomeOfState(s), NeighbourOutcome::Resolved) << s;
    EXPECT_EQ(outcomeOfState(kNudFailed), NeighbourOutcome::Failed);
    EXPECT_EQ(outcomeOfState(kNudIncomplete), NeighbourOutcome::Undecided);
    EXPECT_EQ(outcomeOfState(0), NeighbourOutcome::Undecided);
    EXPECT_EQ(outcomeOfState(kNudNoArp), NeighbourOutcome::Unavailable);
}

TEST(NeighbourTable, ResolutionLimitFollowsTheKernelSettingsWithinBounds) {
    EXPECT_EQ(resolutionLimit(3, 0, 1000).count(), 4000);
    EXPECT_EQ(resolutionLimit(3, 2, 500).count(), 3500);
    EXPECT_EQ(resolutionLimit(0, 0, 1000).count(), 2000);      // at least one probe's time
    EXPECT_EQ(resolutionLimit(50, 50, 60000).count(), 15000);  // never unbounded
    EXPECT_EQ(resolutionLimit(-1, -1, -5).count(), 1010);
}

TEST(NeighbourTable, DumpRequestAsksForTheIpv4Table) {
    const std::vector<std::uint8_t> r = buildNeighbourDumpRequest(42, 5);
    ASSERT_EQ(r.size(), NLMSG_LENGTH(sizeof(ndmsg)));
    nlmsghdr h{};
    std::memcpy(&h, r.data(), sizeof h);
    EXPECT_EQ(h.nlmsg_type, RTM_GETNEIGH);
    EXPECT_EQ(h.nlmsg_seq, 42u);
    EXPECT_EQ(h.nlmsg_flags, NLM_F_REQUEST | NLM_F_DUMP);
    ndmsg n{};
    std::memcpy(&n, r.data() + NLMSG_HDRLEN, sizeof n);
    EXPECT_EQ(n.ndm_family, AF_INET);
    EXPECT_EQ(n.ndm_ifindex, 5);
}
