#pragma once
// The bounded, retrying camera steps of a firmware update: the reachability poll, the restart
// command and the restart before a retry, the preparation of a recording camera (saving its
// recording settings, switching the wide aspect ratio off, unmounting SD card and HDD) and its
// restoration, and the two ways of waiting for a camera to install firmware and restart.
//
// Each step works on one worker slot's data and returns 0 on success, non-zero on failure.
// Every wait goes through the clock, so the lab runs them at a fraction of their length, and
// every loop ends at its time limit. A slot may carry a stop event: waits then end early and
// the step fails, so that a worker can be ended while it waits for a camera.

#include <cstdint>
#include <string>

#include "cgi/cgi.h"
#include "cgi/cgi_parse.h"
#include "cgi/firmware_upload.h"
#include "discovery/adapter_entry.h"
#include "support/clock.h"
#include "support/trace_log.h"

namespace lanrove {

// Upload status values that the steps set.
inline constexpr std::uint16_t kUploadRestarting = 4104;

// Limits and pauses of the steps (protocol milliseconds).
inline constexpr long kStepPollMs = 60000;
inline constexpr long kStepRetryPauseMs = 5000;
inline constexpr long kStepRebootWaitLimitMs = 180000;
inline constexpr long kStepRebootSettleMs = 40000;
inline constexpr long kStepUnmountLimitMs = 60000;
inline constexpr long kStepUnmountSettleMs = 3000;
inline constexpr long kStepRecordLimitMs = 60000;
inline constexpr long kStepRecordPauseMs = 3000;
inline constexpr long kStepRecordWrittenMs = 10000;
inline constexpr long kStepPrepareAspectLimitMs = 60000;
inline constexpr long kStepPrepareSettleMs = 20000;
inline constexpr long kStepRestoreLimitMs = 180000;
inline constexpr long kStepRestoreSettleMs = 60000;
inline constexpr long kStepDiscon3PauseMs = 1000;
inline constexpr int kStepDiscon3Tries = 3;
inline constexpr long kStepVer1PollPauseMs = 1000;
inline constexpr long kStepVer2PollPauseMs = 3000;

// Restart wait methods of the catalogue rows.
inline constexpr int kRebootMethodVer1 = 1;
inline constexpr int kRebootMethodVer2 = 2;

// The pause after a version-2 camera announced its restart with `announcedMs`: half as long
// again as announced when that is longer than the reboot time, else the reboot time; never
// longer than the row's upload time-out (nor the reboot time, when that is longer), so that a
// camera announcing days cannot hold its worker.
long RebootPauseMs(long announcedMs, unsigned long rebootMs, unsigned long timeoutMs);

// What the steps need of one worker slot.
struct CameraStepSlot {
    UploadContext ctx;       // camera copy, table record, session, reply buffer
    AdapterEntry adapter{};  // the PC's adapter towards the camera (subnet test)
    RecordSettings savedRecord;
    bool bRecordSaved = false;
    const ManualResetEvent* stop = nullptr;  // optional: set ends every wait at once

    CameraStepSlot() { adapter.clear(); }
};

class CameraSteps {
  public:
    CameraSteps(CCGI& cgi, CFirmUpload& upload, TraceLog& log, const Clock& clock);

    // Polls cgi-bin/lang.cgi in a fresh session every 5000 ms until it answers or `limitMs`
    // has passed.
    int SessionCheckAndGet(CameraStepSlot& slot, long limitMs);
    // cgi-bin/opecmd.cgi?ope=35&<seconds> (30000 ms).
    int RebootCommand(CameraStepSlot& slot);
    // Restart before a retry: restart command to a reachable camera, then 40000 ms for it to
    // go down; tries every 40000 ms for up to 180000 ms.
    int SetRebootWait(CameraStepSlot& slot);
    // SD card and HDD unmount, up to 60000 ms.
    int SetSDHDDUnmount(CameraStepSlot& slot);
    // cgi-bin/codec_stream.cgi?aspect_ratio=<value>, up to `limitMs`.
    int SetAspectRatio(CameraStepSlot& slot, std::uint16_t value, long limitMs);
    // record.cgi?status=1 into `table`, up to 60000 ms.
    int ReadRecordSettings(CameraStepSlot& slot, RecordSettings& table);
    // Writes back the saved settings that the camera no longer has.
    int WriteRecordSettings(CameraStepSlot& slot);
    // Before the first component of a version-2 camera with the wide aspect ratio and update
    // method 2: save recording settings, aspect ratio off, unmount. Logs its own failures.
    void PrepareCamera(CameraStepSlot& slot);
    // At the end: the aspect ratio of the table record and the saved recording settings back.
    void RestoreCamera(CameraStepSlot& slot);
    // Waits for the camera to install and restart: reboot time T, upload time-out U (both in
    // protocol milliseconds), uploading time J (the judgement value of the version-2 pages).
    int RebootWaitVer1(CameraStepSlot& slot, unsigned long rebootMs, unsigned long timeoutMs);
    int RebootWaitVer2(CameraStepSlot& slot, unsigned long rebootMs, unsigned long timeoutMs,
                       unsigned long uploadingTime);
    int RebootWait(CameraStepSlot& slot, int method, unsigned long rebootMs,
                   unsigned long timeoutMs, unsigned long uploadingTime);

    // True when the camera of the slot lies inside the adapter's subnet.
    bool InsideSubnet(const CameraStepSlot& slot) const;

  private:
    std::string cameraNo(const CameraStepSlot& slot) const;
    // Waits the protocol duration; true when the slot's stop event ended it.
    bool pause(const CameraStepSlot& slot, long ms) const;
    bool stopped(const CameraStepSlot& slot) const;
    // Real milliseconds since `start`, and whether the protocol limit has passed.
    double elapsedMs(std::chrono::steady_clock::time_point start) const;
    bool past(std::chrono::steady_clock::time_point start, long limitMs) const;

    CCGI& m_cgi;
    CFirmUpload& m_upload;
    TraceLog& m_log;
    const Clock& m_clock;
};

}  // namespace lanrove
