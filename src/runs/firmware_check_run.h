#pragma once
// The F/W check run: for every listed camera, whether the firmware folder beside the program
// holds a newer file than the camera runs (CamFirmCheck on its own thread), and the network
// part of the version check that the upload workers use as well.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "discovery/adapter_entry.h"
#include "discovery/host_network.h"
#include "runs/firmware_ports.h"
#include "runs/firmware_table.h"
#include "support/clock.h"
#include "support/trace_log.h"
#include "support/worker_thread.h"

namespace lanrove {

inline constexpr long kSessionCheckLimitMs = 60000;
inline constexpr long kSessionCheckPauseMs = 5000;
inline constexpr long kCheckConnectPauseMs = 3000;
inline constexpr int kCheckConnectTries = 3;
inline constexpr long kCheckCodecTimeoutMs = 30000;

// List modes of the runs: a check of its own, or the check before an upload.
inline constexpr std::uint16_t kFirmRunCheck = 1;
inline constexpr std::uint16_t kFirmRunUpload = 2;

// What both firmware runs share of the program.
struct FirmRunEnv {
    CameraStore& store;
    FirmwareFiles& files;
    FirmCameraFactory makeCamera;
    HostNetwork& net;
    TraceLog& log;
    const Clock& clock;
    std::function<FirmRunSettings()> settings;
};

// Pauses for the protocol duration `ms`; true when `abort` was set meanwhile.
bool firmPause(const ManualResetEvent& abort, const Clock& clock, long ms);
// The service account, port "80" and SSL "0" where empty.
void useServiceAccount(CameraEntry& copy);
bool cameraOutsideSubnet(const AdapterEntry& adapter, const CameraEntry& camera);

// Session check and get: refreshes the copy's version texts within 60000 ms. 0 on success.
int sessionCheckAndGet(FirmCamera& camera, CameraEntry& copy, const AdapterEntry& adapter,
                       TraceLog& log, const Clock& clock, const ManualResetEvent& abort);

// CheckVersion for one component: 4608, 4609, 4610, 8195 or 8196.
std::uint32_t checkVersion(FirmCamera& camera, CameraEntry& copy, const FirmFileChoice& choice,
                           const AdapterEntry& adapter, TraceLog& log, const Clock& clock,
                           const ManualResetEvent& abort);

struct FirmComponentCheck {
    std::uint16_t status = fwcode::kNoFirmware;
    std::uint16_t method = 0;    // of the last row that the search filled
    std::filesystem::path file;  // the file that decided the status (empty when none)
    std::uint32_t fileNumber = 0;
    int filesFound = 0;
};

// Check firmware file: walks the camera's components until one is update ready or none is
// left. `check` is CheckVersion for one component.
FirmComponentCheck checkFirmwareFile(
    FirmwareFiles& files, const CameraEntry& copy, bool versionCompare,
    const std::function<std::uint32_t(const FirmFileChoice&)>& check);

// One camera's outcome of the last check run (for the command line's report).
struct FirmCheckOutcome {
    bool checked = false;
    std::uint16_t firmStatus = 0;
    std::uint16_t method = 0;
    std::filesystem::path file;
    std::uint32_t fileNumber = 0;
};

class FirmwareCheckRun {
  public:
    FirmwareCheckRun(FirmRunEnv env, FirmwareRunEvents& events);
    // Ends a running check first (its waits are cut short).
    ~FirmwareCheckRun();
    FirmwareCheckRun(const FirmwareCheckRun&) = delete;
    FirmwareCheckRun& operator=(const FirmwareCheckRun&) = delete;

    // Starts the check thread in `mode` over the selected adapter, stopping an earlier one
    // first; the done event is reset. False when the thread could not start.
    bool start(std::uint16_t mode, const AdapterEntry& adapter);
    bool running() const { return m_bFirmCheckRunning.load(); }
    // Waits (real time) for the done event.
    bool waitDone(Millis d) const { return m_done.waitFor(d); }
    bool done() const { return m_done.isSet(); }
    // The stop procedure on the check thread.
    int stop();

    // CamFirmCheck on the calling thread (the thread's body; public for tests): true when at
    // least one camera got 4608.
    bool camFirmCheck(std::uint16_t mode, const AdapterEntry& adapter);
    // Per camera-table record, what the last run found.
    std::vector<FirmCheckOutcome> outcomes() const;

  private:
    void threadBody(std::uint16_t mode, AdapterEntry adapter);

    FirmRunEnv m_env;
    FirmwareRunEvents& m_events;
    FirmTable m_table;
    std::mutex m_csFirmCheck;
    ManualResetEvent m_done;
    ManualResetEvent m_abort;
    std::atomic<bool> m_bFirmCheckRunning{false};
    mutable std::mutex m_outcomeMutex;
    std::vector<FirmCheckOutcome> m_outcomes;
    WorkerThread m_thread;
};

}  // namespace lanrove
