#pragma once
// A host network and a datagram transport that never touch a network: the adapter list and
// the echo answer as told, and every search request is answered at once with canned camera
// replies, which reach the receive threads of the requester's segment as on a network (only
// while their sockets are open).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
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

// The network between the cameras and the receive sockets: a datagram delivered while no
// receiver is open is lost, as it would be on a real network. Each open receiver (one per
// adapter) has its own queue; adapters sit on named segments (all on "" unless told), and a
// datagram sent on a segment reaches every receiver open on it, as a broadcast does.
class FakeAir {
  public:
    // How long opening a receiver takes (a slow socket set-up), and its result.
    std::atomic<long> openDelayMs{0};
    std::atomic<int> openError{0};

    // Puts the adapter with address `adapterIp` on `segment`.
    void setSegment(const std::string& adapterIp, const std::string& segment) {
        std::lock_guard lock(m_mutex);
        m_segments[adapterIp] = segment;
    }
    std::string segmentOf(std::string_view adapterIp) const {
        std::lock_guard lock(m_mutex);
        return segmentOfLocked(adapterIp);
    }
    // Opening a receiver on this adapter fails with `error` (0: as openError says).
    void failOpenOn(const std::string& adapterIp, int error) {
        std::lock_guard lock(m_mutex);
        m_openErrors[adapterIp] = error;
    }

    // To every open receiver, whatever its segment.
    bool deliver(const dgram::Datagram& d) { return deliverWhere(d, nullptr); }
    // To the receivers open on `segment`.
    bool deliverOn(const std::string& segment, const dgram::Datagram& d) {
        return deliverWhere(d, &segment);
    }
    int lost() const {
        std::lock_guard lock(m_mutex);
        return m_nLost;
    }
    // Receivers open now, and the most that were open at one time.
    int openReceivers() const {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(m_open.size());
    }
    int mostOpenAtOnce() const {
        std::lock_guard lock(m_mutex);
        return m_nMostOpen;
    }
    std::unique_ptr<DatagramReceiver> makeReceiver() { return std::make_unique<Receiver>(*this); }

  private:
    class Receiver final : public DatagramReceiver {
      public:
        explicit Receiver(FakeAir& air) : m_air(air) {}
        ~Receiver() override {
            std::lock_guard lock(m_air.m_mutex);
            m_air.m_open.erase(std::remove(m_air.m_open.begin(), m_air.m_open.end(), this),
                               m_air.m_open.end());
        }
        Receiver(const Receiver&) = delete;
        Receiver& operator=(const Receiver&) = delete;
        int open(const AdapterEntry& adapter, Millis timeout) override {
            std::this_thread::sleep_for(Millis(m_air.openDelayMs.load()));
            std::lock_guard lock(m_air.m_mutex);
            const std::string ip(adapter.ip());
            if (const auto it = m_air.m_openErrors.find(ip);
                it != m_air.m_openErrors.end() && it->second != 0)
                return it->second;
            if (const int error = m_air.openError.load(); error != 0) return error;
            m_segment = m_air.segmentOfLocked(ip);
            m_timeout = timeout;
            m_air.m_open.push_back(this);
            m_air.m_nMostOpen = std::max(m_air.m_nMostOpen, static_cast<int>(m_air.m_open.size()));
            return 0;
        }
        long receive(std::uint8_t* buffer, std::size_t size) override {
            std::unique_lock lock(m_air.m_mutex);
            if (!m_air.m_cv.wait_for(lock, m_timeout, [&] { return !m_queue.empty(); })) return -1;
            const dgram::Datagram d = m_queue.front();
            m_queue.pop_front();
            const std::size_t n = std::min(size, d.size());
            std::copy_n(d.begin(), n, buffer);
            return static_cast<long>(n);
        }

      private:
        friend class FakeAir;
        FakeAir& m_air;
        Millis m_timeout{1};
        std::string m_segment;
        std::deque<dgram::Datagram> m_queue;  // under the air's mutex
    };

    std::string segmentOfLocked(std::string_view adapterIp) const {
        const auto it = m_segments.find(std::string(adapterIp));
        return it == m_segments.end() ? std::string() : it->second;
    }
    bool deliverWhere(const dgram::Datagram& d, const std::string* segment) {
        bool reached = false;
        {
            std::lock_guard lock(m_mutex);
            for (Receiver* r : m_open) {
                if (segment != nullptr && r->m_segment != *segment) continue;
                r->m_queue.push_back(d);
                reached = true;
            }
            if (!reached) ++m_nLost;
        }
        if (reached) m_cv.notify_all();
        return reached;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Receiver*> m_open;
    std::map<std::string, std::string> m_segments;
    std::map<std::string, int> m_openErrors;
    int m_nMostOpen = 0;
    int m_nLost = 0;
};

// Answers every search request with the queued replies through the fake air (or, when `core`
// is set, by handing them straight to the receive handling).
class AnsweringTransport final : public DatagramTransport {
  public:
    SetupCore* core = nullptr;
    FakeAir air;
    std::vector<dgram::Datagram> replies;
    // Cameras of one segment only (FakeAir::setSegment puts adapters on segments): they answer
    // the requests sent there, in addition to `replies`, which answer on every segment.
    std::map<std::string, std::vector<dgram::Datagram>> segmentReplies;
    // When not empty, only requests from the adapter with this address are answered.
    std::string answerOnlyOn;
    std::atomic<int> requests{0};
    std::atomic<int> acknowledgements{0};
    std::atomic<int> ipSettings{0};  // IP-setting datagrams sent

    int send(const AdapterEntry& adapter, const dgram::Datagram& datagram) override {
        const std::uint16_t code = dgram::commandOf(datagram.data());
        {
            std::lock_guard lock(m_mutex);
            m_lastAdapterIp = std::string(adapter.ip());
        }
        if (code == dgram::kSearchAck) ++acknowledgements;
        if (code == dgram::kIpSetting) {
            ++ipSettings;
            if (onIpSetting) onIpSetting(datagram);
            return 0;
        }
        if (code != dgram::kSearchRequest) return 0;
        ++requests;
        {
            std::lock_guard lock(m_mutex);
            m_requestLog.emplace_back(std::string(adapter.ip()), datagram[33]);
        }
        if (onRequest) onRequest(datagram[33]);
        if (!answerOnlyOn.empty() && adapter.ip() != answerOnlyOn) return 0;
        if (answers && !answers(adapter, datagram[33])) return 0;
        // A camera answers by broadcast: every adapter on the requester's segment hears it.
        const std::string segment = air.segmentOf(adapter.ip());
        const auto answer = [&](const dgram::Datagram& r) {
            if (core != nullptr)
                core->link().handleDatagram(r.data(), r.size());
            else
                air.deliverOn(segment, r);
        };
        for (const auto& r : replies) answer(r);
        if (const auto it = segmentReplies.find(segment); it != segmentReplies.end())
            for (const auto& r : it->second) answer(r);
        return 0;
    }
    std::unique_ptr<DatagramReceiver> makeReceiver(TraceLog&) override {
        return air.makeReceiver();
    }
    // Called with the request number before the request is answered.
    std::function<void(int)> onRequest;
    // When set, a search request (adapter, request number) is answered only when it says so.
    std::function<bool(const AdapterEntry&, int)> answers;
    // Every search request sent so far: the adapter's address and the request number, in order.
    std::vector<std::pair<std::string, int>> requestLog() const {
        std::lock_guard lock(m_mutex);
        return m_requestLog;
    }
    // Called with every IP-setting datagram sent (on the send schedule's thread).
    std::function<void(const dgram::Datagram&)> onIpSetting;
    std::string lastAdapterIp() const {
        std::lock_guard lock(m_mutex);
        return m_lastAdapterIp;
    }

  private:
    mutable std::mutex m_mutex;
    std::string m_lastAdapterIp;
    std::vector<std::pair<std::string, int>> m_requestLog;
};

}  // namespace lanrove::testing
