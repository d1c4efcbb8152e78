#pragma once
// The settings-change run behind the Auto setting and Manual setting buttons: in automatic mode
// (110) a probe worker finds free addresses in the candidate range, then the settings worker
// fills the settings table, restarts the receive thread, runs the send schedule and takes the
// IP-setting replies; in manual mode (120) the settings worker sends the one edited record and
// judges its reply (for version-1 cameras with the net.cgi follow-up). The progress window (or
// the command-line tool) drives the run with the same steps as its timers: startProbe() once
// (timer 400, automatic mode), progressTick() every second (timer 200) and, after cancel(),
// cancelTick() every second (timer 300). No step blocks for more than about 10 ms.
//
// The workers never write the camera table or the list: every result is handed to the owning
// thread as a SettingResult, which applies it there (SetupCore::applySettingResult). The run's
// destructor ends both workers with the stop procedure's waits; it never detaches them.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "cgi/cgi.h"
#include "discovery/adapter_entry.h"
#include "discovery/camera_entry.h"
#include "discovery/camera_store.h"
#include "discovery/datagram_link.h"
#include "discovery/host_network.h"
#include "discovery/send_schedule.h"
#include "runs/ip_setting_rules.h"
#include "support/clock.h"
#include "support/trace_log.h"
#include "support/worker_thread.h"

namespace lanrove {

inline constexpr long kProbeEchoTimeoutMs = 20000;
inline constexpr int kProbeSlots = 10;
inline constexpr long kProbePollMs = 200;
inline constexpr long kReplyPollMs = 500;
// How long the end of a run waits for a reply the receive thread is handing over.
inline constexpr long kEndGraceMs = 500;
inline constexpr long kVersion1RestartWaitMs = 10000;
inline constexpr long kVersion1NetCgiWaitMs = 20000;

enum class RunMode { Auto = 110, Manual = 120 };

// Whether an address is in use. The seam lets the echo, the neighbour table or a test decide.
class AddressProbe {
  public:
    virtual ~AddressProbe() = default;
    // The adapter whose segment the next probes look at; called before a batch starts.
    virtual void useAdapter(const AdapterEntry& adapter) { (void)adapter; }
    // True when some host answers for `address` (a dotted text). Blocks up to the probe's own
    // time-out; called from up to kProbeSlots threads at once.
    virtual bool inUse(std::u16string_view address) = 0;
};

// The echo of the host network with the 20000 ms time-out: an answer (result 0) means in use,
// any failure (time-out, unreachable, no ICMP) counts as free.
class EchoAddressProbe final : public AddressProbe {
  public:
    explicit EchoAddressProbe(HostNetwork& net) : m_net(net) {}
    bool inUse(std::u16string_view address) override;

  private:
    HostNetwork& m_net;
};

struct FreeAddressResult {
    std::vector<std::u16string> addresses;  // in candidate order, at most `wanted`
    int batches = 0;                        // probe batches started
    int probes = 0;                         // addresses probed
    long elapsedMs = 0;                     // real time the probing took
};

// The free-address search: batches of at most kProbeSlots parallel probes over the candidates
// in order, until `wanted` free addresses are found or the candidates run out; within a batch
// the slots are walked in order and only the slots of that batch count. `abandon` (when given
// and set) stops before the next batch; the owner's destruction uses it, never a Cancel.
// The candidates are taken one batch at a time, never listed in full.
FreeAddressResult findFreeAddresses(CandidateAddresses candidates, int wanted, AddressProbe& probe,
                                    TraceLog& log, const std::atomic<bool>* abandon = nullptr);
FreeAddressResult findFreeAddresses(const std::vector<std::u16string>& candidates, int wanted,
                                    AddressProbe& probe, TraceLog& log,
                                    const std::atomic<bool>* abandon = nullptr);

// What of a result's record reaches the camera-table entry (szStatus, dwResult and bFactory
// always, after the record is classified).
enum class SettingCopy {
    StatusOnly,   // refused or no answer: the camera kept its settings
    Network,      // a version-1 camera that took the datagram: address, mask and gateway
    WholeRecord,  // taken in full (with title, port, SSL and the login's credentials)
};

// The result text of a version-1 camera that moved but whose title, port and SSL were not set.
inline constexpr const char* kAddressOnlyText = "address set, title/port/SSL not set";

// One result for the owning thread to apply to the camera table and the list.
struct SettingResult {
    int recordIndex = -1;  // camera-table index (the record's No. less 1)
    CameraEntry record{};  // the settings record, dwResult (and bFactory) set by the run
    SettingCopy copy = SettingCopy::StatusOnly;
    // A version-1 camera at its new address whose net.cgi failed (or was not sent because the
    // run was cancelled): dwResult says failed, the address is nevertheless the new one.
    bool addressOnly = false;
};

// Why a run ended before it could send (empty text: it did not).
struct SettingsRunError {
    int code = 0;      // the system's error value
    std::string text;  // for the user, in English
    bool failed() const { return !text.empty(); }
};

// What the run reports; calls come from the workers. Implementations queue them to the thread
// that owns the list (the desktop program's GUI thread, the command-line tool's event loop).
class SettingsRunEvents {
  public:
    virtual ~SettingsRunEvents() = default;
    virtual void settingResult(const SettingResult& result) = 0;
};

// What the run needs of the main window's state.
struct SettingsRunContext {
    CameraStore& store;
    std::vector<AdapterEntry>& adapters;
    int& nAdapter;  // the adapter in use
    DatagramLink& link;
    SendScheduler& scheduler;
    CCGI& cgi;
    HostNetwork& net;
    AddressProbe& probe;
    TraceLog& log;
    const Clock& clock;
};

class SettingsRun {
  public:
    SettingsRun(SettingsRunContext context, SettingsRunEvents& events);
    ~SettingsRun();
    SettingsRun(const SettingsRun&) = delete;
    SettingsRun& operator=(const SettingsRun&) = delete;

    // Automatic mode: the candidate list of the range dialog and the number of NEW cameras
    // (`newText` is the NEW status text the table holds).
    void prepareAuto(CandidateAddresses candidates, int wanted, std::u16string newText);
    void prepareAuto(std::vector<std::u16string> candidates, int wanted, std::u16string newText) {
        prepareAuto(CandidateAddresses(std::move(candidates)), wanted, std::move(newText));
    }
    // Manual mode: the work copy as it stood after the login step (credentials, port and SSL
    // that reach the camera now) and the edited copy from the setting dialog.
    void prepareManual(const CameraEntry& loginEntry, const CameraEntry& edited, bool statusWasOk);

    // The window's opening steps: cancel state cleared, the stop flag cleared, the ARP cache
    // flushed; in manual mode the settings worker starts at once.
    void begin();
    // Automatic mode, once after begin(): starts the probe worker.
    void startProbe();
    // One progress step: hands a finished probe result over and starts the settings worker;
    // once the settings worker has finished (search-end flag set), checks both workers with
    // waits of 10 ms and writes the "StsChange(1) ..." lines while one still runs. Returns true
    // when the run is over (the stop flag is then set) and the window may close.
    bool progressTick();
    // The Cancel button: search-end and stop flags set. The settings worker is never started
    // after it.
    void cancel();
    bool cancelled() const { return m_bCancelled.load(); }
    // One step after cancel(): true when both workers have ended ("StsChange(2) ..." lines
    // while one still runs).
    bool cancelTick();

    RunMode mode() const { return m_mode; }
    bool probeRunning() const { return m_probeThread.running(); }
    bool settingRunning() const { return m_setThread.running(); }
    // The probe's result (valid once the settings worker was started).
    FreeAddressResult freeAddresses() const;
    // Replies taken by the settings worker in this run.
    int repliesTaken() const { return m_nRepliesTaken.load(); }

    // Settings records the worker filled (automatic) or was given (manual, 1).
    int settingRecords() const { return m_nRecords.load(); }
    // A worker thread that could not be started, or the replies' socket that could not be
    // opened: the run then ends at once without sending. Valid once the run is over.
    SettingsRunError error() const;

  private:
    void probeWorker();
    void settingWorker();
    void fillAutoTable();
    // Takes one reply and applies it; false when it was ignored.
    bool takeOneReply(const SetReplyEntry& reply, CgiSessionSlot& slot);
    // Judges one reply of the manual mode (for version 1 the wait and net.cgi) into `result`.
    void judgeManual(const SetReplyEntry& reply, SettingResult& result, CgiSessionSlot& slot);
    // Replies that reached the queue before the run ended: judged, never dropped.
    void takeQueuedReplies(CgiSessionSlot& slot);
    // Starts `body` on `thread`; on failure the run ends with its error.
    bool startWorker(WorkerThread& thread, void (SettingsRun::*body)(), const char* name);
    // Records the error (trace and event line) and ends the run.
    void fail(int code, const std::string& text, const char* event);
    const char* eventSubject() const;
    // A protocol wait that only the run's destruction cuts short.
    void pause(long ms) const;
    void markManualFailed();
    void dropLateReplies();

    SettingsRunContext m_ctx;
    SettingsRunEvents& m_events;
    RunMode m_mode = RunMode::Manual;

    CandidateAddresses m_candidates;
    int m_nWanted = 0;
    std::u16string m_newText;
    CameraEntry m_LoginEntry{};
    CameraEntry m_edited{};
    bool m_bStatusWasOk = false;

    mutable std::mutex m_resultMutex;
    FreeAddressResult m_probeResult;
    bool m_bProbeDone = false;
    FreeAddressResult m_FreeAddrs;  // handed over by progressTick, read by the settings worker
    bool m_bSetStarted = false;
    std::atomic<bool> m_bCancelled{false};
    std::atomic<int> m_nRepliesTaken{0};
    std::atomic<int> m_nRecords{0};
    SettingsRunError m_error;  // under m_resultMutex

    // The worker's own copy of the settings records (the send schedule writes the table's
    // credentials while it runs) and which of them have answered.
    std::vector<CameraEntry> m_records;
    std::vector<bool> m_answered;
    int m_nApplied = 0;

    ManualResetEvent m_quit;  // set by the destructor only
    std::atomic<bool> m_bAbandonProbe{false};
    WorkerThread m_probeThread;
    WorkerThread m_setThread;
};

}  // namespace lanrove
