#pragma once
// What the F/W check run and the upload run need from the layers below them: the firmware
// files of a camera (catalogue search, file size, the image read once and shared), and the
// camera steps of one worker (session, status and command requests, the upload request, the
// restart waits). The runs hold the rules (which camera, which component, when to transfer,
// retries, statuses); these ports do the work, and tests replace them with fakes.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "discovery/adapter_entry.h"
#include "discovery/camera_entry.h"
#include "firmware/firmware_catalogue.h"
#include "firmware/search_file_ctrl.h"
#include "runs/factory_reset.h"
#include "support/clock.h"

namespace lanrove {

// Firmware status (wFirmStatus), CheckVersion results, upload status (wUploadStatus) and slot
// states of the firmware runs.
namespace fwcode {
inline constexpr std::uint16_t kNotChecked = 0;
inline constexpr std::uint16_t kUpdateReady = 4608;
inline constexpr std::uint16_t kNoFirmware = 4609;
inline constexpr std::uint16_t kLatest = 4610;
inline constexpr std::uint32_t kNoVersionInfo = 8195;
inline constexpr std::uint32_t kUnreachable = 8196;

inline constexpr std::uint16_t kSlotFree = 4096;
inline constexpr std::uint16_t kTaken = 4097;
inline constexpr std::uint16_t kWorking = 4098;
inline constexpr std::uint16_t kWaitingPermission = 4099;
inline constexpr std::uint16_t kSending = 4100;
inline constexpr std::uint16_t kSent = 4101;
inline constexpr std::uint16_t kRestarting = 4104;
inline constexpr std::uint16_t kBack = 4105;
inline constexpr std::uint16_t kComponentDone = 4106;
inline constexpr std::uint16_t kDone = 4107;
// Every image was accepted, but the camera's version could not be read back for at least one
// (comparison off, a camera without version texts, an unreadable version text).
inline constexpr std::uint16_t kSentUnverified = 4108;
inline constexpr std::uint16_t kCancelled = 4351;
inline constexpr std::uint16_t kSkipped = 4352;
inline constexpr std::uint16_t kCheckError = 8192;
inline constexpr std::uint16_t kNoFile = 8193;
inline constexpr std::uint16_t kFailed = 8194;
inline constexpr std::uint16_t kError = 8196;
// Slot state: no further camera for this slot.
inline constexpr std::uint16_t kSlotNoCamera = 4609;
// Slot state: the camera failed and still needs a restart command.
inline constexpr std::uint16_t kSlotNeedsRestart = 8194;
}  // namespace fwcode

// The firmware runs use the service account of the factory reset (kServiceUser,
// kServicePassword).

// One catalogue row.
using FirmRow = FirmwareCatalogueRow;

// Result of the newest-file search from a component index on.
struct FirmFileChoice {
    bool found = false;  // false: no further component has a file (empty path)
    int index = 0;       // the component index of the row used
    FirmRow row;
    std::filesystem::path path;
    std::uint32_t highest = 0;  // the file's version number
};

// One firmware image, read once and shared read-only by every upload of it.
using FirmImage = FirmwareImage;

// The firmware folders beside the program. Called from the check thread and from every
// worker at once; implementations serialise their directory scans and reads themselves.
class FirmwareFiles {
  public:
    virtual ~FirmwareFiles() = default;
    // Find newest file for the camera from component `fromIndex` on.
    virtual FirmFileChoice findNewest(const CameraEntry& camera, int fromIndex) = 0;
    // Makes the row's model folder (nothing for rows without a model key).
    virtual void ensureModelFolder(const FirmRow& row) = 0;
    // Size of the file, 0 when it is missing or empty.
    virtual std::uint64_t fileSize(const std::filesystem::path& path) = 0;
    // The whole file as one shared copy (the same copy for every caller while one holds
    // it), or null with `error` set.
    virtual FirmImage readAll(const std::filesystem::path& path, int& error) = 0;
};

// Where the camera steps report what the table record must show (the worker's copy is
// passed along to the steps themselves).
class FirmStatusSink {
  public:
    virtual ~FirmStatusSink() = default;
    virtual void setUploadStatus(std::uint16_t status) = 0;  // the copy and the record
    virtual void setTotalBytes(std::uint32_t total) = 0;
    virtual void setSentBytes(std::uint32_t sent) = 0;
    virtual std::uint16_t recordAspectRatio() = 0;
    virtual void setRecordAspectRatio(std::uint16_t ratio) = 0;
};

// The slowest rate at which a camera is still taken to be reading an image. A transfer ends
// at the image size at this rate plus the row's upload time-out, however slowly it goes on.
inline constexpr std::uint64_t kMinTransferBytesPerSecond = 64 * 1024;

// The overall deadline of one transfer in protocol milliseconds (the clock scales it).
constexpr std::uint64_t transferDeadlineMs(std::uint64_t imageBytes,
                                           std::uint32_t uploadTimeoutMs) {
    return (imageBytes * 1000 + kMinTransferBytesPerSecond - 1) / kMinTransferBytesPerSecond +
           uploadTimeoutMs;
}

// The limits of one upload request.
struct FirmPostLimits {
    std::uint64_t deadlineMs = 0;  // the overall deadline (protocol ms); 0: none
    // True ends a transfer that the camera has not fully taken yet (cancel, shutdown).
    std::function<bool()> stop;
};

struct FirmPostResult {
    enum class Outcome {
        kSent,        // the whole body went out (the reply fields below are valid)
        kBodyFailed,  // the body could not be made from the image (logged)
        kOpenFailed,  // the POST could not be opened
        kSendFailed,  // a piece failed (`sendCode` 408 or 411)
    };
    Outcome outcome = Outcome::kOpenFailed;
    int sendCode = 0;
    bool replyRead = false;  // some reply bytes came within the reply time-out
    bool errorCode = false;  // the reply carries "code=" (ParseCheckError)
    std::string code;        // the error code's text
    long httpStatus = 0;
    // The exchange ended before the camera had taken the whole body (kSendFailed): the
    // deadline passed, it stalled, or the stop check ended it.
    bool deadlinePassed = false;
    bool stopped = false;
};

// The camera steps of one worker (or of the check run), each on the session it owns. Every
// wait inside ends early when the abort event given at creation is set.
class FirmCamera {
  public:
    virtual ~FirmCamera() = default;
    // The PC's adapter towards the camera (the steps' subnet test).
    virtual void useAdapter(const AdapterEntry& adapter) = 0;
    // Closes and forgets the session.
    virtual void dropSession() = 0;
    // Login check on lang.cgi in a new, cleared session. 0 when it answered.
    virtual int connectInitSess(const CameraEntry& copy) = 0;
    virtual int getCodecStream(CameraEntry& copy, long timeoutMs) = 0;
    virtual int reqGetCamSet(CameraEntry& copy) = 0;
    // Reachability poll on lang.cgi for up to `limitMs`.
    virtual bool reachable(const CameraEntry& copy, long limitMs) = 0;
    virtual int restartCommand(const CameraEntry& copy) = 0;
    // Restart and wait before a retry. 0 on success.
    virtual int setRebootWait(const CameraEntry& copy) = 0;
    // Preparation before the first component and restoration at the end (each decides itself
    // whether anything is to be done; failures are only logged).
    virtual void prepare(CameraEntry& copy, FirmStatusSink& sink) = 0;
    virtual void restore(CameraEntry& copy, FirmStatusSink& sink) = 0;
    // Waits for the restart after an upload by the row's method. 0 on success.
    virtual int rebootWait(CameraEntry& copy, const FirmRow& row, int uploadingTime,
                           FirmStatusSink& sink) = 0;
    // One upload: the body around `image`, the POST, the pieces with the counters, the pause
    // after the last piece (status 4101), the reply and its error check. The request is
    // closed when it returns.
    virtual FirmPostResult post(CameraEntry& copy, const std::filesystem::path& file,
                                const FirmImage& image, FirmStatusSink& sink,
                                const FirmPostLimits& limits) = 0;
    // Steps that must not be cut short by a cancel or a shutdown (the restoration) run with
    // `keepGoing` set: their waits end only at their own limits.
    virtual void keepGoing(bool on) { (void)on; }
};

// Makes the camera steps of one worker; `abort` cuts every wait short (shutdown).
using FirmCameraFactory = std::function<std::unique_ptr<FirmCamera>(const ManualResetEvent& abort)>;

// The "Firmupload" settings a worker reads when it starts.
struct FirmRunSettings {
    bool versionCompare = true;
    int retryCount = 3;
    int uploadingTime = 30;
};

// Reports of the firmware runs, called on their threads.
class FirmwareRunEvents {
  public:
    virtual ~FirmwareRunEvents() = default;
    virtual void firmRowChanged(int recordIndex) = 0;
    virtual void firmCheckDone(bool anyUpdateReady) = 0;
};

}  // namespace lanrove
