#pragma once
// A host network and a datagram transport that never touch a network: the adapter list and
// the echo answer as told, and every search request is answered at once with canned camera
// replies, which reach the receive thread as on a network (only while its socket is open).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
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

// The network between the cameras and the receive socket: a datagram delivered while no
// receiver is open is lost, as it would be on a real network.
class FakeAir {
  public:
    // How long opening a receiver takes (a slow socket set-up), and its result.
    std::atomic<long> openDelayMs{0};
    std::atomic<int> openError{0};

    bool deliver(const dgram::Datagram& d) {
        {
            std::lock_guard lock(m_mutex);
            if (!m_bOpen) {
                ++m_nLost;
                return false;
            }
            m_queue.push_back(d);
        }
        m_cv.notify_all();
        return true;
    }
    int lost() const {
        std::lock_guard lock(m_mutex);
        return m_nLost;
    }
    std::unique_ptr<DatagramReceiver> makeReceiver() { return std::make_unique<Receiver>(*this); }

  private:
    class Receiver final : public DatagramReceiver {
      public:
        explicit Receiver(FakeAir& air) : m_air(air) {}
        ~Receiver() override {
            std::lock_guard lock(m_air.m_mutex);
            if (m_bOpened) {
                m_air.m_bOpen = false;
                m_air.m_queue.clear();
            }
        }
        Receiver(const Receiver&) = delete;
        Receiver& operator=(const Receiver&) = delete;
        int open(const AdapterEntry&, Millis timeout) override {
            std::this_thread::sleep_for(Millis(m_air.openDelayMs.load()));
            if (const int error = m_air.openError.load(); error != 0) return error;
            std::lock_guard lock(m_air.m_mutex);
            m_air.m_bOpen = m_bOpened = true;
            m_timeout = timeout;
            return 0;
        }
        long receive(std::uint8_t* buffer, std::size_t size) override {
            std::unique_lock lock(m_air.m_mutex);
            if (!m_air.m_cv.wait_for(lock, m_timeout, [&] { return !m_air.m_queue.empty(); }))
                return -1;
            const dgram::Datagram d = m_air.m_queue.front();
            m_air.m_queue.pop_front();
            const std::size_t n = std::min(size, d.size());
            std::copy_n(d.begin(), n, buffer);
            return static_cast<long>(n);
        }

      private:
        FakeAir& m_air;
        Millis m_timeout{1};
        bool m_bOpened = false;
    };

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<dgram::Datagram> m_queue;
    bool m_bOpen = false;
    int m_nLost = 0;
};

// Answers every search request with the queued replies through the fake air (or, when `core`
// is set, by handing them straight to the receive handling).
class AnsweringTransport final : public DatagramTransport {
  public:
    SetupCore* core = nullptr;
    FakeAir air;
    std::vector<dgram::Datagram> replies;
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
        if (onRequest) onRequest(datagram[33]);
        if (!answerOnlyOn.empty() && adapter.ip() != answerOnlyOn) return 0;
        for (const auto& r : replies) {
            if (core != nullptr)
                core->link().handleDatagram(r.data(), r.size());
            else
                air.deliver(r);
        }
        return 0;
    }
    std::unique_ptr<DatagramReceiver> makeReceiver(TraceLog&) override {
        return air.makeReceiver();
    }
    // Called with the request number before the request is answered.
    std::function<void(int)> onRequest;
    // Called with every IP-setting datagram sent (on the send schedule's thread).
    std::function<void(const dgram::Datagram&)> onIpSetting;
    std::string lastAdapterIp() const {
        std::lock_guard lock(m_mutex);
        return m_lastAdapterIp;
    }

  private:
    mutable std::mutex m_mutex;
    std::string m_lastAdapterIp;
};

}  // namespace lanrove::testing
