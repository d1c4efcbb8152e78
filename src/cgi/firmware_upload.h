#pragma once
// The wire side of a firmware update: the multipart/form-data POST that carries a firmware
// image to the camera's cgi-bin/firmup.cgi, the camera's answer, and the pages that the camera
// shows while it installs the image and restarts (refresh delay, setTimeout delay, "discon4"
// marker, error code). The upload worker decides when each step runs; this file gives it the
// operations and their result codes.
//
// The image is shared: every camera that gets the same file streams it from one read-only
// buffer, so ten uploads of one image hold one copy of it.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "cgi/cgi.h"
#include "cgi/cgi_session.h"
#include "discovery/camera_entry.h"
#include "support/clock.h"
#include "support/trace_log.h"

namespace lanrove {

// The firmware image as the file reader hands it out: one read-only copy for every camera.
using FirmwareBytes = std::shared_ptr<const std::vector<std::uint8_t>>;

inline constexpr std::size_t kFirmSendChunk = 8192;
inline constexpr std::size_t kFirmRecvBufferSize = 1048576;
inline constexpr long kFirmRecvTimeoutMs = 30000;
inline constexpr long kFirmSentPauseMs = 5000;
inline constexpr long kFirmRecvPollMs = 500;
inline constexpr std::size_t kFirmPathMaxBytes = 512;

// Result codes of the upload request besides CCGI's 0, 400 and 408.
inline constexpr int kFirmEmptyBody = 411;
inline constexpr int kFirmNoReply = -1;
inline constexpr int kFirmErrorCode = -2;
inline constexpr int kFirmReadFailed = 8196;  // the body could not be made from the file

// Upload status values that the sending step sets.
inline constexpr std::uint16_t kUploadSending = 4100;
inline constexpr std::uint16_t kUploadSent = 4101;

// The boundary id: year, month, day, hour, minute and second in lower-case hexadecimal with at
// least two digits each ("7da0307090501" for 2010-03-07 09:05:01).
std::string MakeBoundaryId(const std::tm& local);

// The request body around the file's bytes: the opening delimiter and the part headers, the
// file, the closing delimiter. The file is referenced, not copied.
struct FirmupBody {
    std::string boundary;
    std::string head;
    FirmwareBytes file;
    std::string tail;

    std::uint64_t size() const;
    bool empty() const { return size() == 0; }
    // Copies `length` bytes from `offset` of the body into `out`; false past the end.
    bool copy(std::uint64_t offset, std::size_t length, std::uint8_t* out) const;
    // The whole body in one string (tests and small bodies only).
    std::string flatten() const;
};

// The body for `file` with the boundary id and the file's path in wire bytes. Quotes and line
// ends in the path are percent-encoded so that a file name cannot end the part header.
FirmupBody MakeFirmupBody(const std::string& boundary, std::string_view pathWire,
                          FirmwareBytes file);

// "multipart/form-data; boundary=" and 27 hyphens before the boundary id.
std::string FirmupContentTypeLine(const std::string& boundary);

// Progress counters of a camera record that the firmware dialog reads from another thread
// while the upload thread writes them.
std::uint32_t LoadSentBytes(const CameraEntry& entry);
std::uint32_t LoadTotalBytes(const CameraEntry& entry);
std::uint16_t LoadUploadStatus(const CameraEntry& entry);
void StoreSentBytes(CameraEntry& entry, std::uint32_t value);
void StoreTotalBytes(CameraEntry& entry, std::uint32_t value);
void StoreUploadStatus(CameraEntry& entry, std::uint16_t value);

// One camera's upload context: the worker's copy of the record, the record in the camera
// table, the session slot, the body of the current attempt and the reply buffer.
struct UploadContext {
    CameraEntry copy{};
    CameraEntry* camera = nullptr;  // the record in the camera table; may be null
    CgiSessionSlot session;
    FirmupBody body;
    std::vector<char> recv;  // kFirmRecvBufferSize once the context is ready
    std::size_t recvCount = 0;
    std::mutex recvLock;
    // Called on the sending thread after each piece with the bytes sent so far (optional).
    std::function<void(std::uint32_t)> onPiece;

    UploadContext();
    // Sets the upload status of the copy and of the table record.
    void setStatus(std::uint16_t status);
    void setSent(std::uint32_t sent);
    void setTotal(std::uint32_t total);
    // The received reply (valid up to the next receive).
    std::string_view received() const { return {recv.data(), recvCount}; }
};

// Texts of the camera's pages, without any network.
struct FirmupPage {
    // "code=" up to the first "</" on its line, else up to the end of the line. Nothing when
    // there is no "code=" or no end of line after it.
    static bool FindErrorCode(std::string_view text, std::string& code);
    // The refresh delay of the first META HTTP-EQUIV line with "Refresh", else the number after
    // the comma of a setTimeout line. Returns 0, -1 (empty page) or -2 (error code found);
    // `wait` is left unchanged when the page gives no number.
    static int ParseFirmupReply(std::string_view text, long& wait, std::string* errorCode);
    // discon3.cgi: the count of numbers read after "setTimeout" and its comma (1), -1 when the
    // setTimeout line has none or the page says "discon4", 1 for any other page.
    static int ParseRebootReply(std::string_view text, long& value);
    // Position of the end of the line that starts at or before `from`: the first CR, or the
    // first LF when there is no CR or that CR comes after the LF and is no CR LF.
    static std::size_t LineEnd(std::string_view text, std::size_t from);
};

// The operations of the upload request. Like CCGI it keeps no state of its own: every call
// takes the camera's upload context.
class CFirmUpload {
  public:
    using LocalTime = std::function<std::tm()>;

    // `localTime` gives the local date and time for the boundary id (the system's by default).
    CFirmUpload(CCGI& cgi, TraceLog& log, const Clock& clock, LocalTime localTime = {});

    // Builds the body of one attempt from the shared image. `fileSize` is the size the file
    // reader listed; an image of another size is a failed read (kFirmReadFailed, logged).
    int BuildBody(UploadContext& ctx, const FirmwareBytes& file, std::uint64_t fileSize,
                  std::u16string_view fullPath, std::u16string_view fileName);
    // Opens the POST to cgi-bin/firmup.cgi. 0 with `request` ready for the body, 400 when no
    // request was opened, 411 when the body is empty.
    int StartFirmupPost(UploadContext& ctx, CgiRequestPtr& request);
    // Sends the body in pieces of 8192 bytes, moving the counters after every piece; after
    // the last one waits 5000 ms and sets the status 4101. 0, or the failing piece's code.
    int FirmSendProc(UploadContext& ctx, CgiRequest& request);
    // One piece: 0, 408 (write failed) or 411 (length 0).
    int FirmSend(UploadContext& ctx, const std::uint8_t* data, std::size_t length,
                 CgiRequest& request);
    // Gathers the reply into the context's buffer: 0 when bytes came, -1 when none came within
    // `timeoutMs` (protocol milliseconds), 408 when the transfer failed.
    int FirmupRecv(UploadContext& ctx, CgiRequest& request, std::size_t& count, long timeoutMs);
    // -2 when the received page carries an error code (logged), else 0.
    int ParseCheckError(UploadContext& ctx);
    // GET of the upload result page, parsed: 0, -2, or -1 when nothing could be fetched.
    int GetFirmupCheckRecv(UploadContext& ctx, long& wait);
    // Parse of the received page: 0, -2 or -1 (nothing received).
    int ParseFirmupReply(UploadContext& ctx, std::size_t count, long& wait);
    // Parse of a received discon3.cgi page.
    int ParseRebootReply(UploadContext& ctx, long& value);

    CCGI& cgi() { return m_cgi; }
    const Clock& clock() const { return m_clock; }

  private:
    std::string cameraNo(const UploadContext& ctx) const;

    CCGI& m_cgi;
    TraceLog& m_log;
    const Clock& m_clock;
    LocalTime m_localTime;
};

}  // namespace lanrove
