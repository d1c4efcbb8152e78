#pragma once
// A host network and a datagram transport that never touch a network: the adapter list and
// the echo answer as told, and every search request is answered at once with canned camera
// replies handed straight to the receive handling.

#include <atomic>
#include <vector>

#include "app/setup_core.h"
#include "support/clock.h"

namespace lanrove::testing {

inline AdapterEntry makeAdapter(const char* ip, const char* mask = "255.255.255.0",
                                const char* gateway = "0.0.0.0", const char* ifName = "lo") {
    AdapterEntry a{};
    a.clear();
    AdapterEntry::setText(a.szIp, ip);
    AdapterEntry::setText(a.szMask, mask);
    AdapterEntry::setText(a.szGateway, gateway);
    AdapterEntry::setText(a.szIfName, ifName);
    return a;
}

class FakeHostNetwork final : public HostNetwork {
  public:
    std::vector<AdapterEntry> adapters;
    std::uint32_t echoResult = kEchoSuccess;
    std::atomic<int> flushes{0};
    // While set, the ARP cache flush (the worker's last step) waits for `flushReleased`.
    std::atomic<bool> holdFlush{false};
    ManualResetEvent flushReleased;
    ManualResetEvent flushEntered;

    int enumerateAdapters(std::vector<AdapterEntry>& out) override {
        out = adapters;
        return static_cast<int>(out.size());
    }
    std::uint32_t echo(std::u16string_view, long) override { return echoResult; }
    int flushArpCache() override {
        ++flushes;
        flushEntered.set();
        if (holdFlush) flushReleased.wait();
        return 0;
    }
};

// Answers every search request with the queued replies, as if they had arrived.
class AnsweringTransport final : public DatagramTransport {
  public:
    SetupCore* core = nullptr;
    std::vector<dgram::Datagram> replies;
    std::atomic<int> requests{0};
    std::atomic<int> acknowledgements{0};

    int send(const AdapterEntry&, const dgram::Datagram& datagram) override {
        const std::uint16_t code = dgram::commandOf(datagram.data());
        if (code == dgram::kSearchAck) ++acknowledgements;
        if (code != dgram::kSearchRequest || core == nullptr) return 0;
        ++requests;
        for (const auto& r : replies) core->link().handleDatagram(r.data(), r.size());
        return 0;
    }
};

}  // namespace lanrove::testing
