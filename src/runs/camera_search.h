#pragma once
// The search worker: one pass per adapter with an address, all passes at the same time. Each
// pass has its own receive thread (tied to its adapter) and its own search-request schedule;
// the worker takes over every record the receive threads append to the shared table, completes
// version-1 cameras over HTTP where they can be reached, and reports each camera to the main
// window. A camera heard on several adapters is listed once and belongs to the first of them
// in adapter order, as when the passes ran one after another. When every pass has ended it
// reports the end of the search and flushes the ARP cache.

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "cgi/cgi.h"
#include "discovery/adapter_entry.h"
#include "discovery/camera_store.h"
#include "discovery/datagram_link.h"
#include "discovery/host_network.h"
#include "discovery/search_events.h"
#include "discovery/send_schedule.h"
#include "support/clock.h"
#include "support/trace_log.h"
#include "support/worker_thread.h"

namespace lanrove {

inline constexpr long kSearchPassPauseMs = 1000;
inline constexpr long kSearchPollMs = 15;
inline constexpr long kSearchCodecTimeoutMs = 10000;
inline constexpr int kMarkEveryRowUpTo = 25;
inline constexpr int kMarkEvery = 250;
inline constexpr int kMarkOnPauseUpTo = 100;

// What the worker needs of the main window's state.
struct SearchContext {
    CameraStore& store;
    std::vector<AdapterEntry>& adapters;
    int& nAdapter;  // m_nAdapter: the adapter in use, the remembered one after the search
    DatagramLink& link;
    SendScheduler& scheduler;
    CCGI& cgi;
    HostNetwork& net;
    TraceLog& log;
    const Clock& clock;
};

class CameraSearch {
  public:
    CameraSearch(SearchContext context, SearchEvents& events);
    // Ends a running worker with stop() first: it uses the store, the link and the rest of
    // the context.
    ~CameraSearch();
    CameraSearch(const CameraSearch&) = delete;
    CameraSearch& operator=(const CameraSearch&) = delete;

    // Clears the table and starts the worker thread.
    void start();
    // The Cancel button: every pass and its receive thread stop.
    void cancel();
    // The thread stop procedure on the worker, with Cancel as its signal and the lines of
    // "m_pSearchThread"; returns when the worker has ended. Its result.
    int stop();
    bool running() const { return m_thread.running(); }
    // Waits (real time) for the worker to end.
    bool waitEnd(Millis d) const { return m_thread.waitEnd(d); }

    // The whole search on the calling thread (the worker's body; public for tests and tools).
    void run();
    // Progress for tools: the first adapter being searched (-1 before the passes start) and
    // how many adapters are searched at once.
    int currentAdapter() const { return m_nCurrentAdapter.load(); }
    int passCount() const { return m_nPassCount.load(); }

  private:
    struct Pass;
    void runPasses();
    // Starts a pass on every adapter with an address.
    void startPasses();
    // Takes over the records until every pass has ended; returns the number taken over.
    int takeOverRecords();
    bool allPassesEnded();
    // A camera already listed for a later adapter was heard on an earlier one: the row takes
    // the earlier adapter's record.
    void takeOverDuplicate(int read, int row, CameraEntry entry, int adapter,
                           const AdapterEntry& adapterEntry, CgiSessionSlot& slot);
    // The record made complete for the adapter it was heard on (version 1 over HTTP).
    void completeFor(CameraEntry& entry, const AdapterEntry& adapter, CgiSessionSlot& slot);
    // Ends the receive threads and schedules of the previous passes.
    void endPasses();
    void completeVersion1(CameraEntry& entry, CgiSessionSlot& slot);
    bool spoofedNow(const CameraEntry& entry) const;
    // After the last pass: each camera that answered from two addresses is marked in the
    // trust store and shown in attention; the others lose an earlier mark.
    void markSpoofed();

    SearchContext m_ctx;
    SearchEvents& m_events;
    // The passes of the search, kept after it until the next search or the end of this object:
    // their receive threads end by themselves within a receive time-out. Before the worker so
    // that the worker is ended first.
    mutable std::mutex m_passMutex;
    std::vector<std::unique_ptr<Pass>> m_passes;
    // Per table index (worker only): the adapter the listed record belongs to, -1 for none.
    std::array<int, kCameraTableSize> m_nRowAdapter{};
    WorkerThread m_thread;
    std::atomic<int> m_nCurrentAdapter{-1};
    std::atomic<int> m_nPassCount{0};
};

}  // namespace lanrove
