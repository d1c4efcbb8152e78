#pragma once
// Records what the datagram layer sends instead of putting it on a network.

#include <chrono>
#include <mutex>
#include <vector>

#include "discovery/datagram_link.h"

namespace lanrove::testing {

class RecordingTransport final : public DatagramTransport {
  public:
    struct Sent {
        dgram::Datagram datagram;
        std::string adapterIp;
        std::chrono::steady_clock::time_point at;
    };
    int send(const AdapterEntry& adapter, const dgram::Datagram& datagram) override {
        std::lock_guard lock(m_mutex);
        m_sent.push_back({datagram, std::string(adapter.ip()), std::chrono::steady_clock::now()});
        return m_nResult;
    }
    std::vector<Sent> sent() const {
        std::lock_guard lock(m_mutex);
        return m_sent;
    }
    std::size_t count(std::uint16_t code) const {
        std::lock_guard lock(m_mutex);
        std::size_t n = 0;
        for (const auto& s : m_sent) n += dgram::commandOf(s.datagram.data()) == code ? 1 : 0;
        return n;
    }
    void failWith(int result) { m_nResult = result; }

  private:
    mutable std::mutex m_mutex;
    std::vector<Sent> m_sent;
    int m_nResult = 0;
};

}  // namespace lanrove::testing
