#pragma once
// The search worker: one adapter pass per adapter with an address. Each pass starts the
// receive thread and the search-request schedule, takes over every record the receive thread
// appends, completes version-1 cameras over HTTP where they can be reached, and reports each
// camera to the main window. After the last pass it reports the end of the search and flushes
// the ARP cache.

#include <atomic>
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
    // The Cancel button: the current pass and the receive thread stop, no further adapter.
    void cancel();
    // The thread stop procedure on the worker, with Cancel as its signal and the lines of
    // "m_pSearchThread"; returns when the worker has ended. Its result.
    int stop();
    bool running() const { return m_thread.running(); }
    // Waits (real time) for the worker to end.
    bool waitEnd(Millis d) const { return m_thread.waitEnd(d); }

    // The whole search on the calling thread (the worker's body; public for tests and tools).
    void run();
    // One adapter pass; returns the number of records taken over so far in the search.
    int adapterPass();

    // Progress for tools: current adapter index and number of passes so far.
    int currentAdapter() const { return m_nCurrentAdapter.load(); }

  private:
    void runPasses();
    void completeVersion1(CameraEntry& entry, CgiSessionSlot& slot);
    bool spoofedNow(const CameraEntry& entry) const;
    // After the last pass: each camera that answered from two addresses is marked in the
    // trust store and shown in attention; the others lose an earlier mark.
    void markSpoofed();

    SearchContext m_ctx;
    SearchEvents& m_events;
    WorkerThread m_thread;
    std::atomic<int> m_nCurrentAdapter{-1};
};

}  // namespace lanrove
