#pragma once
// The factory reset of every listed camera: a worker thread sends the factory-default command
// over HTTP with the service account to each camera of the camera table, the cameras that
// still have the factory address first, then all the others, each in list order. When at least
// one camera accepted, it waits the settle time so that the cameras have restarted before the
// new search that follows. The owner shows its wait window until the done event is set.
//
// The thread reads the camera table but never writes it: nothing else changes the table while
// the reset runs (the search and the IP settings are not reachable, the settings check the
// running flag). A stop request (shutdown) ends the current pass and skips the rest; a settle
// wait that is due still runs in full.

#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "cgi/cgi.h"
#include "discovery/camera_entry.h"
#include "discovery/camera_store.h"
#include "support/clock.h"
#include "support/trace_log.h"
#include "support/worker_thread.h"

namespace lanrove {

// The service account the command is sent with; written into a copy of each entry only.
inline constexpr const char16_t* kServiceUser = u"kelvo";
inline constexpr const char16_t* kServicePassword = u"730162";
// Wait for the stop event before each camera, and the settle time after the last command.
inline constexpr long kResetPauseMs = 100;
inline constexpr long kResetSettleMs = 60000;
// The operation number a reset starts with.
inline constexpr int kResetOperationNumber = 0;

// One camera's command as the thread sent it.
struct ResetOutcome {
    int recordIndex = -1;  // camera-table index
    int pass = 0;          // 1: a camera at the factory address, 2: any other
    long result = kCgiFailed;
    bool accepted() const { return result == kCgiOk; }
};

// What the reset thread reports, from the thread. The run is over when its done event is set.
class FactoryResetEvents {
  public:
    virtual ~FactoryResetEvents() = default;
    virtual void cameraReset(const ResetOutcome& outcome) = 0;
};

// Sends the command to one camera (the entry copy with the service account); 0 when the camera
// accepted it. By default the camera client's factory-default command, which retries within its
// 30000 ms time-out.
using ResetSender = std::function<long(const CameraEntry& copy, CgiSessionSlot& slot, int num)>;

// The user's text for a start() that failed with `code`.
std::string factoryResetStartText(long code);

struct FactoryResetContext {
    CameraStore& store;
    CCGI& cgi;
    TraceLog& log;
    const Clock& clock;
};

class FactoryReset {
  public:
    explicit FactoryReset(FactoryResetContext context);
    // Ends a running thread with the stop procedure first.
    ~FactoryReset();
    FactoryReset(const FactoryReset&) = delete;
    FactoryReset& operator=(const FactoryReset&) = delete;

    // Replaces the sender (tests); an empty one restores the default. Not while a run is on.
    void setSender(ResetSender sender);
    // Limits the next runs to the cameras of these MAC texts (as the table holds them, upper
    // case); empty: every listed camera. Not while a run is on.
    void setOnly(std::set<std::u16string> macs) { m_only = std::move(macs); }

    // The button's start: done event cleared and running flag set, then the thread start: an
    // earlier thread stopped, operation number 0, stop event cleared, thread created. `events`
    // (may be null) must outlive the thread. Returns 0, or 0x80070000 plus the system error
    // code when the thread could not be created; the run is then over at once (done set,
    // running cleared) so that no wait window waits for ever.
    long start(FactoryResetEvents* events);
    // The thread stop procedure with the stop event and the name "m_hResetThread"; returns
    // when the thread has ended. Its result.
    int stop();
    // Sets the stop event only: the current pass ends, the thread finishes on its own.
    void requestStop() { m_stopReset.set(); }

    // Set from start() until the thread has finished.
    bool running() const { return m_bResetRunning.load(); }
    bool done() const { return m_resetDone.isSet(); }
    // Waits up to the real duration `d` for the done event.
    bool waitDone(Millis d) const { return m_resetDone.waitFor(d); }

    // Results of the last run (complete once done() is true).
    std::vector<ResetOutcome> outcomes() const;
    bool anyAccepted() const { return m_bAnyAccepted.load(); }
    bool settleWaited() const { return m_bSettleWaited.load(); }

    // The thread's body on the calling thread (public for tests): both passes, the settle
    // wait when due, then done set and running cleared.
    void run();

  private:
    // One pass over the table; false when the stop event ended it.
    bool pass(int number, CgiSessionSlot& slot);
    void finish();

    FactoryResetContext m_ctx;
    ResetSender m_sender;
    std::set<std::u16string> m_only;  // empty: every camera
    FactoryResetEvents* m_pEvents = nullptr;
    int m_nOperation = kResetOperationNumber;

    ManualResetEvent m_resetDone;
    ManualResetEvent m_stopReset;
    std::atomic<bool> m_bResetRunning{false};
    std::atomic<bool> m_bAnyAccepted{false};
    std::atomic<bool> m_bSettleWaited{false};
    mutable std::mutex m_outcomeMutex;
    std::vector<ResetOutcome> m_outcomes;
    WorkerThread m_thread;
};

}  // namespace lanrove
