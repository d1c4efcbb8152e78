#pragma once
// The upload run: a dispatcher thread hands every update-ready camera of the table to one of
// "Instance" worker slots; each slot updates one camera at a time on its own thread. At most
// two slots transfer at the same moment: a worker waits in state 4099 until the dispatcher
// grants it the start event. Progress is published as statuses and byte counters in the
// camera table (through FirmTable, under the table lock).

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "discovery/adapter_entry.h"
#include "runs/firmware_check_run.h"
#include "runs/firmware_ports.h"
#include "runs/firmware_table.h"
#include "runs/restart_throttle.h"
#include "support/clock.h"
#include "support/worker_thread.h"

namespace lanrove {

inline constexpr int kMaxTransfers = 2;
inline constexpr long kDispatcherTickMs = 50;
inline constexpr long kPermissionAckMs = 30000;
inline constexpr long kPermissionWaitMs = 3600000;
inline constexpr long kUploadReachableMs = 180000;
inline constexpr long kReadRetryPauseMs = 5000;
inline constexpr long kAfterReplyWaitMs = 30000;
inline constexpr long kCancelCheckMs = 5000;
inline constexpr long kRetryRebootErrorPauseMs = 3000;
inline constexpr long kTakeCodecTimeoutMs = 30000;

class FirmwareUpdateRun;

// One worker slot (CFirmUpSetting).
class FirmSlot final : public FirmStatusSink {
  public:
    FirmSlot(FirmwareUpdateRun& run, int index);
    ~FirmSlot() override;
    FirmSlot(const FirmSlot&) = delete;
    FirmSlot& operator=(const FirmSlot&) = delete;

    std::uint16_t state() const { return m_state.load(); }
    bool transferring() const { return m_bTransferring.load(); }
    bool waiting() const { return m_bWaiting.load(); }
    int recordIndex() const { return m_nRecord.load(); }
    int slotIndex() const { return m_nIndex; }

    // FirmStatusSink: the camera record's fields (the worker keeps its copy itself).
    void setUploadStatus(std::uint16_t status) override;
    void setTotalBytes(std::uint32_t total) override;
    void setSentBytes(std::uint32_t sent) override;
    std::uint16_t recordAspectRatio() override;
    void setRecordAspectRatio(std::uint16_t ratio) override;

  private:
    friend class FirmwareUpdateRun;

    FirmwareUpdateRun& m_run;
    int m_nIndex;
    std::mutex m_lock;  // held by the worker for its whole run on one camera
    ManualResetEvent m_start;
    ManualResetEvent m_ack;
    ManualResetEvent m_cancel;
    CameraEntry m_copy{};
    std::atomic<int> m_nRecord{-1};
    std::atomic<std::uint16_t> m_state{fwcode::kSlotFree};
    std::atomic<bool> m_bWaiting{false};
    std::atomic<bool> m_bTransferring{false};
    std::uint8_t m_byComponentsDone = 0;
    std::vector<std::string> m_uploadedFiles;  // this camera's images sent, for the journal
    // The component versions read before the first transfer, for the journal.
    CameraEntry m_versionsBefore{};
    // The camera's versions were read after its last transfer.
    bool m_bReadAfterPost = false;
    // An image was accepted whose version the camera could not show back.
    bool m_bUnverified = false;
    // The last transfer broke off before the camera had the whole image.
    bool m_bBrokenOff = false;
    RestartThrottle m_restart;
    AdapterEntry m_adapter{};
    std::unique_ptr<FirmCamera> m_camera;
    WorkerThread m_sendThread;
};

class FirmwareUpdateRun {
  public:
    FirmwareUpdateRun(FirmRunEnv env, FirmwareRunEvents& events);
    // Stops the dispatcher and every worker (their waits cut short) before anything goes.
    ~FirmwareUpdateRun();
    FirmwareUpdateRun(const FirmwareUpdateRun&) = delete;
    FirmwareUpdateRun& operator=(const FirmwareUpdateRun&) = delete;

    // Start upload: stops a running dispatcher, frees the old slots, makes `instance` new ones
    // and starts the dispatcher over the first `recordCount` records. 0 or an error code.
    long start(int instance, const AdapterEntry& adapter,
               int recordCount = static_cast<int>(kCameraTableSize));
    // A slot in state 4098 or 4099, or a slot free for its next camera while the dispatcher
    // still has an update-ready camera to hand out.
    bool anySlotBusy() const;
    // The dispatcher's stop event (Cancel): busy workers get their cancel event.
    void requestStop();
    // Shutdown: the dispatcher and every worker end; waits are cut short.
    void stop();

    // Observation for the window, the command line and tests.
    int slotCount() const;
    std::uint16_t slotState(int slot) const;
    // The camera-table record of the slot's current camera, -1 when none.
    int slotRecord(int slot) const;
    bool dispatcherRunning() const { return m_dispatcher.running(); }
    // Most slots seen transferring at once during the run.
    int peakTransfers() const { return m_nPeakTransfers.load(); }
    // Retries made for the record in this run.
    int retries(int recordIndex) const;
    // The camera's answer to its last upload POST in this run (status 0: none read).
    struct Answer {
        long httpStatus = 0;
        std::string code;      // the "code=" text of the page, if any
        bool refused = false;  // status 400 or more, or an error code
    };
    Answer answer(int recordIndex) const;

    // Take camera into slot; also used by tests.
    void takeCameraIntoSlot(int recordIndex, FirmSlot& slot);

  private:
    friend class FirmSlot;

    void stopLocked();
    void dispatcher(int recordCount);
    // Start worker: 0, or -1 when the camera was not taken into the slot.
    long startWorker(FirmSlot& slot);
    void sendEventProc(FirmSlot& slot);
    // The worker's part after step 3; returns the final result R.
    std::uint16_t runComponents(FirmSlot& slot, const FirmRunSettings& settings);
    int stopSlot(FirmSlot& slot);
    // Takes a version read of a component check for the journal.
    void noteVersionsRead(FirmSlot& slot, std::uint32_t check);
    // The camera's version texts after a component took: into the copy and the record.
    void takeVersions(FirmSlot& slot, const FirmRow& row);
    void setCopyAndRecordStatus(FirmSlot& slot, std::uint16_t status);
    void noteTransferring();
    bool pause(long ms) const { return firmPause(m_abort, m_env.clock, ms); }

    FirmRunEnv m_env;
    FirmwareRunEvents& m_events;
    FirmTable m_table;
    std::mutex m_csFirmup;
    mutable std::mutex m_slotsMutex;  // the slot array against readers on other threads
    std::vector<std::unique_ptr<FirmSlot>> m_slots;
    AdapterEntry m_adapter{};
    ManualResetEvent m_stop;   // m_hFirmupStop
    ManualResetEvent m_abort;  // shutdown: cuts every wait of the run short
    WorkerThread m_dispatcher;
    std::atomic<int> m_nPeakTransfers{0};
    // The dispatcher's camera cursor (the first record not yet looked at or being taken).
    std::atomic<int> m_nCursor{0};
    std::atomic<int> m_nRecordCount{0};
    mutable std::mutex m_retryMutex;
    std::vector<int> m_retries;
    std::vector<Answer> m_answers;
};

}  // namespace lanrove
