// The free-address probe that asks the neighbour table beside the echo, over a fake echo and
// a fake neighbour table: which of the two decides, how soon, and that an answer from either
// keeps an address from being handed out.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "discovery/fake_lan.h"
#include "discovery/log_capture.h"
#include "runs/neighbour_address_probe.h"
#include "support/text.h"

using namespace lanrove;
using lanrove::testing::LogCapture;
using lanrove::testing::makeAdapter;
using SteadyClock = std::chrono::steady_clock;

namespace {

// An echo that answers (or not) after a delay, and gives up when cancelled.
class SlowEcho final : public HostNetwork {
  public:
    std::map<std::u16string, bool> answers;  // address -> answers the echo
    Millis delay{2000};
    std::atomic<int> echoes{0};
    std::atomic<int> cancelled{0};

    int enumerateAdapters(std::vector<AdapterEntry>&) override { return 0; }
    std::uint32_t echo(std::u16string_view target, long) override {
        ++echoes;
        std::this_thread::sleep_for(delay);
        return answers[std::u16string(target)] ? kEchoSuccess : kEchoTimedOut;
    }
    std::uint32_t echoUntil(std::u16string_view target, long,
                            const std::atomic<bool>& cancel) override {
        ++echoes;
        const auto end = SteadyClock::now() + delay;
        while (SteadyClock::now() < end) {
            if (cancel.load()) {
                ++cancelled;
                return kEchoTimedOut;
            }
            std::this_thread::sleep_for(Millis(5));
        }
        return answers[std::u16string(target)] ? kEchoSuccess : kEchoTimedOut;
    }
    int flushArpCache() override { return 0; }
};

// A neighbour table that gives an outcome per address after a delay, watching `stop`.
class FakeNeighbours final : public NeighbourResolver {
  public:
    std::map<std::uint32_t, NeighbourOutcome> outcomes;  // missing: Undecided at the limit
    Millis delay{50};
    Millis limit{300};
    std::atomic<int> asked{0};
    std::string lastIf;
    std::uint32_t lastLocal = 0;

    NeighbourOutcome resolve(const std::string& ifName, std::uint32_t local, std::uint32_t target,
                             const std::function<bool()>& stop) override {
        ++asked;
        {
            std::lock_guard lock(m_mutex);
            lastIf = ifName;
            lastLocal = local;
        }
        const auto it = outcomes.find(target);
        const auto end = SteadyClock::now() + (it != outcomes.end() ? delay : limit);
        while (SteadyClock::now() < end) {
            if (stop && stop()) return NeighbourOutcome::Undecided;
            std::this_thread::sleep_for(Millis(5));
        }
        return it != outcomes.end() ? it->second : NeighbourOutcome::Undecided;
    }

  private:
    std::mutex m_mutex;
};

constexpr std::uint32_t ip(int last) {
    return 0xC0A80000u | static_cast<std::uint32_t>(last);  // 192.168.0.x
}

long msSince(SteadyClock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<Millis>(SteadyClock::now() - start).count());
}

struct ProbeFixture : ::testing::Test {
    SlowEcho net;
    FakeNeighbours table;
    LogCapture capture;
    NeighbourAddressProbe probe{net, &table, capture.log()};
    void SetUp() override {
        probe.useAdapter(makeAdapter("192.168.0.10", "255.255.255.0", "192.168.0.1", "eth7"));
    }
};

}  // namespace

TEST_F(ProbeFixture, AnArpAnswerMarksInUseWithoutWaitingForTheEcho) {
    table.outcomes[ip(25)] = NeighbourOutcome::Resolved;  // drops pings, answers ARP
    const auto start = SteadyClock::now();
    const ProbeVerdict v = probe.probe(u"192.168.0.25");
    EXPECT_TRUE(v.inUse);
    EXPECT_EQ(v.decider, ProbeDecider::Arp);
    EXPECT_LT(msSince(start), 1000);
    EXPECT_EQ(net.cancelled, 1);
    EXPECT_EQ(table.lastIf, "eth7");
    EXPECT_EQ(table.lastLocal, ip(10));
}

TEST_F(ProbeFixture, AFailedResolutionIsFreeAsSoonAsTheKernelGivesUp) {
    table.outcomes[ip(26)] = NeighbourOutcome::Failed;
    const auto start = SteadyClock::now();
    EXPECT_FALSE(probe.inUse(u"192.168.0.26"));
    EXPECT_LT(msSince(start), 1000);  // the echo would have taken 2000 ms
    EXPECT_EQ(capture.count("AutoSet Probe(192.168.0.26) Free By(arp)"), 1u) << capture.text();
}

TEST_F(ProbeFixture, AnEchoAnswerCountsWhenTheTableCannotTell) {
    net.delay = Millis(100);
    net.answers[u"192.168.0.27"] = true;
    table.limit = Millis(3000);
    const auto start = SteadyClock::now();
    const ProbeVerdict v = probe.probe(u"192.168.0.27");
    EXPECT_TRUE(v.inUse);
    EXPECT_EQ(v.decider, ProbeDecider::Echo);
    EXPECT_LT(msSince(start), 1500);  // the answer ends the neighbour wait

    // Undecided and silent: the echo's whole time-out decides.
    net.delay = Millis(400);
    table.limit = Millis(50);
    const ProbeVerdict quiet = probe.probe(u"192.168.0.28");
    EXPECT_FALSE(quiet.inUse);
    EXPECT_EQ(quiet.decider, ProbeDecider::EchoArpUndecided);
}

TEST_F(ProbeFixture, AddressesOffTheSegmentAndTheOwnAddressGoToTheEchoAlone) {
    net.delay = Millis(10);
    net.answers[u"10.1.2.3"] = true;
    net.answers[u"192.168.0.10"] = true;
    EXPECT_EQ(probe.probe(u"10.1.2.3").decider, ProbeDecider::EchoOffSegment);
    const ProbeVerdict own = probe.probe(u"192.168.0.10");
    EXPECT_TRUE(own.inUse);
    EXPECT_EQ(own.decider, ProbeDecider::EchoOffSegment);
    EXPECT_EQ(table.asked, 0);

    // Without a neighbour table (or before an adapter is known) the echo decides too.
    NeighbourAddressProbe plain(net, nullptr, capture.log());
    plain.useAdapter(makeAdapter("192.168.0.10"));
    EXPECT_FALSE(plain.probe(u"192.168.0.30").inUse);
    NeighbourAddressProbe noAdapter(net, &table, capture.log());
    EXPECT_EQ(noAdapter.probe(u"192.168.0.30").decider, ProbeDecider::EchoOffSegment);
    EXPECT_EQ(table.asked, 0);
}

TEST_F(ProbeFixture, BatchesKeepTheirOrderAndFreeBatchesTakeTheKernelTimeOnly) {
    // Ten candidates, .25 silent to pings but alive on ARP, the rest nobody's.
    std::vector<std::u16string> candidates;
    for (int i = 20; i < 30; ++i) {
        candidates.push_back(fromUtf8("192.168.0." + std::to_string(i)));
        table.outcomes[ip(i)] = i == 25 ? NeighbourOutcome::Resolved : NeighbourOutcome::Failed;
    }
    table.delay = Millis(200);
    net.delay = Millis(5000);
    const auto start = SteadyClock::now();
    const FreeAddressResult r = findFreeAddresses(candidates, 3, probe, capture.log());
    EXPECT_LT(msSince(start), 2000);
    ASSERT_EQ(r.addresses.size(), 3u);
    EXPECT_EQ(r.addresses[0], u"192.168.0.20");
    EXPECT_EQ(r.addresses[2], u"192.168.0.22");
    const FreeAddressResult all = findFreeAddresses(candidates, 10, probe, capture.log());
    EXPECT_EQ(all.addresses.size(), 9u);
    for (const auto& a : all.addresses) EXPECT_NE(a, u"192.168.0.25");
}
