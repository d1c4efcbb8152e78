#include "runs/neighbour_address_probe.h"

#include <atomic>
#include <condition_variable>
#include <system_error>
#include <thread>

#include "discovery/ipv4_address.h"
#include "support/text.h"

namespace lanrove {

namespace {

// The echo running beside the neighbour question: its result once it has one.
struct EchoSide {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    bool answered = false;
    std::atomic<bool> cancel{false};
};

}  // namespace

const char* deciderName(ProbeDecider decider) {
    switch (decider) {
        case ProbeDecider::Arp:
            return "arp";
        case ProbeDecider::Echo:
            return "echo";
        case ProbeDecider::EchoOffSegment:
            return "echo, off the segment";
        case ProbeDecider::EchoArpUndecided:
            return "echo, arp undecided";
    }
    return "?";
}

void NeighbourAddressProbe::useAdapter(const AdapterEntry& adapter) {
    std::lock_guard lock(m_mutex);
    m_adapter = adapter;
    m_bHaveAdapter = true;
}

bool NeighbourAddressProbe::inUse(std::u16string_view address) {
    const ProbeVerdict verdict = probe(address);
    m_log.trace(1, "AutoSet Probe(%s) %s By(%s)", toUtf8(address).c_str(),
                verdict.inUse ? "InUse" : "Free", deciderName(verdict.decider));
    return verdict.inUse;
}

ProbeVerdict NeighbourAddressProbe::probe(std::u16string_view address) {
    AdapterEntry adapter{};
    bool haveAdapter = false;
    {
        std::lock_guard lock(m_mutex);
        adapter = m_adapter;
        haveAdapter = m_bHaveAdapter;
    }
    const std::string text = toUtf8(address);
    const std::uint32_t target = ipv4::fromTextOrZero(text);
    const std::uint32_t local = ipv4::fromTextOrZero(adapter.ip());
    const std::uint32_t mask = ipv4::fromTextOrZero(adapter.mask());
    // Only an address on the adapter's own link is resolved by ARP; the adapter's own address
    // never is (the echo answers it).
    const bool onLink = m_neighbours != nullptr && haveAdapter && !adapter.ifName().empty() &&
                        target != 0 && local != 0 && mask != 0 && target != local &&
                        (target & mask) == (local & mask);
    if (!onLink)
        return {m_net.echo(address, kProbeEchoTimeoutMs) == kEchoSuccess,
                ProbeDecider::EchoOffSegment};

    EchoSide echo;
    const std::u16string owned(address);
    auto runEcho = [this, &echo, &owned] {
        const bool answered =
            m_net.echoUntil(owned, kProbeEchoTimeoutMs, echo.cancel) == kEchoSuccess;
        {
            std::lock_guard lock(echo.mutex);
            echo.done = true;
            echo.answered = answered;
        }
        echo.cv.notify_all();
    };
    auto echoAnswered = [&echo] {
        std::lock_guard lock(echo.mutex);
        return echo.answered;
    };

    std::thread echoThread;
    try {
        echoThread = std::thread(runEcho);
    } catch (const std::system_error&) {
        // No thread to be had: ask the neighbour table first, the echo only when it cannot say.
        const NeighbourOutcome outcome =
            m_neighbours->resolve(std::string(adapter.ifName()), local, target, {});
        if (outcome == NeighbourOutcome::Resolved) return {true, ProbeDecider::Arp};
        if (outcome == NeighbourOutcome::Failed) return {false, ProbeDecider::Arp};
        runEcho();
        return {echo.answered, ProbeDecider::EchoArpUndecided};
    }

    const NeighbourOutcome outcome =
        m_neighbours->resolve(std::string(adapter.ifName()), local, target, echoAnswered);
    ProbeVerdict verdict;
    if (outcome == NeighbourOutcome::Resolved) {
        verdict = {true, ProbeDecider::Arp};
    } else if (echoAnswered()) {
        verdict = {true, ProbeDecider::Echo};
    } else if (outcome == NeighbourOutcome::Failed) {
        verdict = {false, ProbeDecider::Arp};
    } else {
        // The table could not tell: the echo decides, with its whole time-out.
        std::unique_lock lock(echo.mutex);
        echo.cv.wait(lock, [&echo] { return echo.done; });
        verdict = {echo.answered, ProbeDecider::EchoArpUndecided};
    }
    echo.cancel = true;
    echoThread.join();
    // An answer that came in while the echo was being cancelled still counts.
    if (!verdict.inUse && echo.answered) verdict = {true, ProbeDecider::Echo};
    return verdict;
}

}  // namespace lanrove
