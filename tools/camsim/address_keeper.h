#pragma once
// Keeps the simulated cameras' addresses on the simulator's interface, so that ICMP probes
// and HTTP requests reach a camera at its current address. An address stays while any camera
// still uses it; only addresses added here are ever removed.

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "fleet.h"

namespace lanrove::camsim {

class AddressKeeper {
  public:
    explicit AddressKeeper(std::string ifName);
    ~AddressKeeper();
    AddressKeeper(const AddressKeeper&) = delete;
    AddressKeeper& operator=(const AddressKeeper&) = delete;

    // Finds the interface and opens the routing socket. Also lets secondary addresses move
    // up when a primary one is removed, so one camera's move never takes the others along.
    bool open(std::string& error);
    // Adds every address the fleet uses and removes the ones added here that no camera uses
    // any more. Takes the fleet's mutex. Returns false if some change failed (see lastError).
    bool sync(Fleet& fleet);
    void removeAll();
    std::string lastError() const;
    std::size_t count() const;

  private:
    // 1 done, 0 nothing to do (already there / already gone), -1 failed.
    int change(bool add, std::uint32_t address, int prefix);

    std::string m_ifName;
    int m_ifIndex = 0;
    int m_fd = -1;
    std::uint32_t m_seq = 1;
    mutable std::mutex m_mutex;
    std::map<std::uint32_t, int> m_added;  // address -> prefix length
    std::string m_lastError;
};

}  // namespace lanrove::camsim
