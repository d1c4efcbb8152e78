#pragma once
// What the update dialog, the main window and the command line need of the firmware runs: the
// F/W check run and the upload run (dispatcher and worker slots). SetupCore implements it; the
// dialog's tests replace it with a fake.

#include <cstdint>

#include "discovery/camera_entry.h"
#include "support/clock.h"

namespace lanrove {

// Reports of the firmware runs. Called on the runs' own threads: a window turns them into
// queued calls on its thread; the command line prints or collects them.
class FirmwareEvents {
  public:
    virtual ~FirmwareEvents() = default;
    // The camera-table record `recordIndex` changed (statuses, versions, byte counters).
    virtual void onFirmRowChanged(int recordIndex) = 0;
    // The F/W check run has ended; `anyUpdateReady` is CamFirmCheck's result.
    virtual void onFirmCheckDone(bool anyUpdateReady) = 0;
};

// One camera's progress, read consistently while workers write it.
struct FirmwareProgress {
    std::uint16_t firmStatus = 0;    // wFirmStatus
    std::uint16_t uploadStatus = 0;  // wUploadStatus
    std::uint32_t sentBytes = 0;     // dwSentBytes
    std::uint32_t totalBytes = 0;    // dwTotalBytes
    int retries = 0;                 // retries the upload run made for the camera
};

class FirmwareControl {
  public:
    virtual ~FirmwareControl() = default;

    // ---- F/W check run ----
    // Starts the check thread in the current list mode (check or update), stopping an earlier
    // one first; clears the done event. False when the thread could not start.
    virtual bool startFirmCheck(FirmwareEvents& events) = 0;
    virtual bool firmCheckRunning() const = 0;
    // Waits up to `d` for the done event of the last check run.
    virtual bool waitFirmCheckDone(Millis d) const = 0;

    // ---- Upload run ----
    // Start upload: stops a running dispatcher, creates the slots ("Instance" of them) and
    // starts the dispatcher over the camera table. 0 or an error code.
    virtual long startUpload(FirmwareEvents& events) = 0;
    // A slot in state 4098 or 4099.
    virtual bool anySlotBusy() const = 0;
    // Signals the dispatcher's stop event (Cancel): busy workers get their cancel event.
    // Returns at once; the workers end on their own.
    virtual void requestUploadStop() = 0;

    // ---- Camera table, as the dialog's progress timer walks it ----
    // Records from index 0 up to the first empty No. (at most 1000).
    virtual int firmRecordCount() const = 0;
    virtual FirmwareProgress firmProgress(int recordIndex) const = 0;
    // A whole record, copied consistently with the runs' writes (the list row shows texts a
    // worker rewrites, such as the firmware version after an update).
    virtual CameraEntry firmRecord(int recordIndex) const = 0;
};

}  // namespace lanrove
