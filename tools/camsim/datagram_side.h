#pragma once
// The simulator's datagram side: one UDP socket on port 10001 of the cameras' interface that
// answers for every camera of the fleet. Replies to a search are spread over a short random
// delay so that a large fleet does not arrive as one burst.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <queue>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "camera_datagrams.h"
#include "fleet.h"
#include "sim_log.h"
#include "support/clock.h"

namespace lanrove::camsim {

struct DatagramSideOptions {
    std::string interface;    // empty: every interface of the namespace
    long replySpreadMs = -1;  // protocol time; -1: 2 ms per camera, at most 1000 ms
    std::string codePage = "CP1252";
};

class DatagramSide {
  public:
    DatagramSide(Fleet& fleet, SimLog& log, const Clock& clock, DatagramSideOptions options);
    ~DatagramSide();
    DatagramSide(const DatagramSide&) = delete;
    DatagramSide& operator=(const DatagramSide&) = delete;

    bool start(std::string& error);
    void stop();
    const DatagramResponder& responder() const { return m_responder; }

  private:
    struct Pending {
        std::chrono::steady_clock::time_point due;
        std::uint64_t order;
        Outgoing datagram;
        bool operator>(const Pending& o) const {
            return due != o.due ? due > o.due : order > o.order;
        }
    };
    void receiveLoop();
    void sendLoop();
    void sendNow(const Outgoing& o);

    Fleet& m_fleet;
    SimLog& m_log;
    const Clock& m_clock;
    DatagramSideOptions m_options;
    DatagramResponder m_responder;
    int m_fd = -1;
    std::atomic<bool> m_bStop{false};
    std::thread m_receiver;
    std::thread m_sender;
    std::mutex m_queueMutex;
    std::condition_variable m_queueCv;
    std::priority_queue<Pending, std::vector<Pending>, std::greater<>> m_queue;
    std::uint64_t m_order = 0;
    std::mt19937 m_random{std::random_device{}()};
};

}  // namespace lanrove::camsim
