#pragma once
// The simulator's WS-Discovery side: one UDP socket on port 3702 of the cameras' interface,
// in the multicast group 239.255.255.250, that answers Probes for the fleet's WS-Discovery
// devices. Each device sends its own ProbeMatch from its own address, unicast to the sender.

#include <atomic>
#include <string>
#include <thread>

#include "fleet.h"
#include "sim_log.h"

namespace lanrove::camsim {

class WsdSide {
  public:
    // `interface` empty: every interface of the namespace (the group joined on the default one).
    WsdSide(Fleet& fleet, SimLog& log, std::string interface);
    ~WsdSide();
    WsdSide(const WsdSide&) = delete;
    WsdSide& operator=(const WsdSide&) = delete;

    bool start(std::string& error);
    void stop();

  private:
    void receiveLoop();
    void send(const std::string& xml, std::uint32_t source, const void* to, unsigned toLength);

    Fleet& m_fleet;
    SimLog& m_log;
    std::string m_interface;
    int m_fd = -1;
    std::atomic<bool> m_bStop{false};
    std::thread m_receiver;
};

}  // namespace lanrove::camsim
