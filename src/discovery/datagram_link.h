#pragma once
// The PC side of the discovery datagrams on one adapter: the send routine and the receive
// thread that files search replies into the camera table and IP-setting replies into the reply
// array, acknowledging each accepted search reply.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "discovery/adapter_entry.h"
#include "discovery/camera_store.h"
#include "discovery/datagram_codec.h"
#include "discovery/discovery_events.h"
#include "support/clock.h"
#include "support/text.h"
#include "support/trace_log.h"
#include "support/worker_thread.h"

namespace lanrove {

// How a finished datagram leaves the PC (tests replace it).
class DatagramTransport {
  public:
    virtual ~DatagramTransport() = default;
    // Sends the 512 bytes from the adapter to the cameras; 0 or the socket error value.
    virtual int send(const AdapterEntry& adapter, const dgram::Datagram& datagram) = 0;
};

// UDP broadcast from the adapter's address, port 10000, to 255.255.255.255:10001; a fresh
// socket per send, at most three attempts.
class UdpBroadcastTransport final : public DatagramTransport {
  public:
    explicit UdpBroadcastTransport(TraceLog& log) : m_log(log) {}
    int send(const AdapterEntry& adapter, const dgram::Datagram& datagram) override;

  private:
    TraceLog& m_log;
};

inline constexpr long kRecvTimeoutMs = 3000;
inline constexpr std::size_t kRecvBuffers = 1000;
inline constexpr std::size_t kRecvBufferSize = 1024;

class DatagramLink {
  public:
    DatagramLink(CameraStore& store, DatagramTransport& transport, TraceLog& log,
                 const Clock& clock, WireCodec codec = WireCodec());
    // Stops a receive thread that still runs.
    ~DatagramLink();
    DatagramLink(const DatagramLink&) = delete;
    DatagramLink& operator=(const DatagramLink&) = delete;

    // The adapter in use (m_Adapters[m_nAdapter]); read by sends and by a starting thread.
    void setAdapter(const AdapterEntry& adapter);
    AdapterEntry adapter() const;
    void setEvents(DiscoveryEvents* events) { m_pEvents.store(events); }
    const WireCodec& codec() const { return m_codec; }

    // The send routine. For search requests the request number is the store's send counter,
    // and request number 1 empties the found-MAC list. Returns 0 or the socket error value.
    int sendDatagram(std::uint16_t code, const std::uint8_t* payload, std::size_t length,
                     std::uint16_t argument);

    // Starts the receive thread for the current adapter: stops one still recorded, waits until
    // an earlier thread has let go of the receive lock, empties the found-MAC list, clears the
    // stop flag and resets the stop event.
    void startRecvThread();
    // The thread stop procedure on the receive thread; its result.
    int stopRecvThread();
    bool recvThreadRunning() const { return m_recvThread.running(); }
    // Waits (real time) until no receive thread holds the receive lock.
    bool waitRecvIdle(Millis d);

    // Handles one received datagram as the receive thread does; true when it was accepted
    // (its buffer must then be kept). Usable without sockets.
    bool handleDatagram(const std::uint8_t* data, std::size_t length);

  private:
    void recvProc();

    CameraStore& m_store;
    DatagramTransport& m_transport;
    TraceLog& m_log;
    const Clock& m_clock;
    const WireCodec m_codec;
    std::atomic<DiscoveryEvents*> m_pEvents{nullptr};

    mutable std::mutex m_adapterMutex;
    AdapterEntry m_adapter{};

    WorkerThread m_recvThread;        // m_hRecvThread
    ManualResetEvent m_stopRecv;      // m_hStopRecv
    std::atomic<int> m_nRecvWait{0};  // wait of the thread's poll of the stop event
    // Held by the receive thread for its whole run; a plain flag under a mutex so that it can
    // be waited for with a time-out.
    class RecvLock {
      public:
        void lock() { tryLockFor(Millis::max()); }
        bool tryLockFor(Millis d);
        void unlock();

      private:
        std::mutex m_mutex;
        std::condition_variable m_cv;
        bool m_bHeld = false;
    };
    RecvLock m_csRecv;
};

}  // namespace lanrove
