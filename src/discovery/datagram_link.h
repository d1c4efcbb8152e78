#pragma once
// The PC side of the discovery datagrams on one adapter: the send routine and the receive
// thread that files search replies into the camera table and IP-setting replies into the reply
// array, acknowledging each accepted search reply.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
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

// The receive side of one receive-thread run: one socket, open until the object goes.
class DatagramReceiver {
  public:
    virtual ~DatagramReceiver() = default;
    // Creates the socket with the receive time-out `timeout` (real time, at least 1 ms) and
    // binds it so that the adapter's replies reach it. 0 when it can receive, else the error
    // value (after its trace line).
    virtual int open(const AdapterEntry& adapter, Millis timeout) = 0;
    // Waits at most the time-out for one datagram into `buffer`; its length, or -1 on a
    // time-out or error.
    virtual long receive(std::uint8_t* buffer, std::size_t size) = 0;
    // As receive, also telling the datagram's source address (host order; 0: not known).
    virtual long receiveFrom(std::uint8_t* buffer, std::size_t size, std::uint32_t& source) {
        source = 0;
        return receive(buffer, size);
    }
};

// How a finished datagram leaves the PC and how the replies come back (tests replace it).
class DatagramTransport {
  public:
    virtual ~DatagramTransport() = default;
    // Sends the 512 bytes from the adapter to the cameras; 0 or the socket error value.
    virtual int send(const AdapterEntry& adapter, const dgram::Datagram& datagram) = 0;
    // A new receive side; the default listens with a UDP socket on port 10000.
    virtual std::unique_ptr<DatagramReceiver> makeReceiver(TraceLog& log);
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
// How long starting the receive thread waits for its socket (real time; creating and binding a
// socket takes far less).
inline constexpr Millis kRecvReadyWait{5000};
inline constexpr std::size_t kRecvBuffers = 1000;
inline constexpr std::size_t kRecvBufferSize = 1024;

class DatagramLink {
  public:
    DatagramLink(CameraStore& store, DatagramTransport& transport, TraceLog& log,
                 const Clock& clock, WireCodec codec = WireCodec());
    // A link of one pass among several: its stop flag, send counter and found MACs are
    // `flags`, and the records it appends are tagged with `pass` (CameraStore::m_nAppendedBy).
    // Its receive thread drops what arrives once the pass's stop flag is set.
    DatagramLink(CameraStore& store, PassFlags& flags, int pass, DatagramTransport& transport,
                 TraceLog& log, const Clock& clock, WireCodec codec);
    // Stops a receive thread that still runs.
    ~DatagramLink();
    DatagramLink(const DatagramLink&) = delete;
    DatagramLink& operator=(const DatagramLink&) = delete;

    // The adapter in use (m_Adapters[m_nAdapter]); read by sends and by a starting thread.
    void setAdapter(const AdapterEntry& adapter);
    AdapterEntry adapter() const;
    void setEvents(DiscoveryEvents* events) { m_pEvents.store(events); }
    const WireCodec& codec() const { return m_codec; }
    DatagramTransport& transport() const { return m_transport; }
    PassFlags& flags() const { return m_flags; }

    // The send routine. For search requests the request number is the pass's send counter,
    // and request number 1 empties the found-MAC list (unless the pass's flags say otherwise).
    // Returns 0 or the socket error value.
    int sendDatagram(std::uint16_t code, const std::uint8_t* payload, std::size_t length,
                     std::uint16_t argument);

    // Starts the receive thread for the current adapter: stops one still recorded (as
    // stopRecvThread), empties the found-MAC list, clears the stop flag, resets the stop event
    // and starts the thread. Returns once the thread's socket is bound, so that replies to a
    // request sent right after are received: 0, or the error value when the thread could not
    // open its socket (it has ended then) or did not report within kRecvReadyWait.
    int startRecvThread();
    // Ends the receive thread: when it is not running or the stop flag is set, first waits (up
    // to one receive time-out and a second) for it to let go of the receive lock, then runs
    // the thread stop procedure on it with the poll wait raised to 1000 ms. The thread has
    // returned when this returns. The stop procedure's result.
    int stopRecvThread();
    bool recvThreadRunning() const { return m_recvThread.running(); }
    // Waits (real time) until no receive thread holds the receive lock.
    bool waitRecvIdle(Millis d);

    // Handles one received datagram as the receive thread does; true when it was accepted
    // (its buffer must then be kept). `source` is the sender's address (host order, 0: not
    // known). A search reply whose MAC answered this search from another address is marked in
    // the store and written as an event line. Usable without sockets.
    bool handleDatagram(const std::uint8_t* data, std::size_t length, std::uint32_t source = 0);

  private:
    void recvProc();
    void reportRecvReady(int result);

    CameraStore& m_store;
    PassFlags& m_flags;
    const int m_nPass;
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
    // Set by the receive thread once its socket is open (or could not be opened).
    ManualResetEvent m_recvReady;
    std::atomic<int> m_nRecvOpenResult{0};
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
