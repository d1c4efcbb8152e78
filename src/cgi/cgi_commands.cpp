// The CGI commands that the program sends to a camera, each with its path, account and
// session time-out, and the parse of the status replies into the camera record.
#include <ctime>

#include "cgi/cgi.h"

namespace lanrove {

namespace {

constexpr const char* kCodecStatusPath = "cgi-bin/codec_stream.cgi?status=1";
constexpr const char* kCamSetStatusPath = "cgi-bin/cam_set.cgi?status=1";
constexpr const char* kSdHddUnmountPath = "cgi-bin/sd_hdd.cgi?status=1&sd_card_sw=0&hdd_sw=0";
constexpr const char* kRecordReadPath = "cgi-bin/record.cgi?status=1";
constexpr const char* kDiscon3Path = "cgi-bin/discon3.cgi";
constexpr const char* kFirmupPath = "cgi-bin/firmup.cgi";

}  // namespace

std::string CCGI::AspectRatioPath(std::uint16_t ratio) {
    return "cgi-bin/codec_stream.cgi?aspect_ratio=" + std::to_string(ratio);
}

std::string CCGI::RebootPath(long long secondsSince1970) {
    // The time makes every restart request unique, so no cache along the way answers it.
    return "cgi-bin/opecmd.cgi?ope=35&" + std::to_string(secondsSince1970);
}

std::string CCGI::FactoryDefaultPath(int num) {
    return "cgi-bin/opecmd.cgi?ope=36&num=" + std::to_string(num);
}

std::string CCGI::NetCgiPath(const CameraEntry& newEntry) const {
    // Values are percent-encoded: a title with blanks, "&" or "#" would otherwise break the
    // request line or set other parameters.
    return "cgi-bin/net.cgi?title=" + PercentEncode(m_codec.toWire(fieldView(newEntry.szTitle))) +
           "&img_encryption=" + PercentEncode(m_codec.toWire(fieldView(newEntry.szSsl))) +
           "&port=" + PercentEncode(m_codec.toWire(fieldView(newEntry.szPort)));
}

TextReply CCGI::statusRequest(long timeoutMs, CgiSessionSlot& slot, const CameraEntry& entry,
                              std::string_view path, std::string& text, int& result,
                              int& readError) {
    result = kCgiFailed;
    readError = 0;
    const std::string url = BaseUrl(entry) + std::string(path);
    if (!slot) CreateSession(slot, timeoutMs, false);
    int status = 400;
    CgiRequestPtr request =
        OpenSession(slot.get(), url, kViewerUser, kViewerPassword, status, fieldView(entry.szMac));
    if (!request) return TextReply::kNoText;
    result = kCgiOk;
    return ReadTextReply(*request, "text/plain", text, readError);
}

int CCGI::GetCodecStreamCgi(long timeoutMs, CgiSessionSlot& slot, CameraEntry& entry) {
    try {
        std::string text;
        int result = kCgiFailed;
        int readError = 0;
        const TextReply reply =
            statusRequest(timeoutMs, slot, entry, kCodecStatusPath, text, result, readError);
        if (reply == TextReply::kText) {
            ParseCodecStatus(m_codec, text, entry);
        } else if (reply == TextReply::kReadError) {
            m_log.trace(1, "GetCodecStreamCgi: Read Error dwError=%d.", readError);
            result = kCgiFailed;
        }
        return result;
    } catch (...) {
        return kCgiFailed;
    }
}

int CCGI::ReqGetCamSetCgi(CgiSessionSlot& slot, CameraEntry& entry) {
    try {
        std::string text;
        int result = kCgiFailed;
        int readError = 0;
        const TextReply reply =
            statusRequest(kCgiTimeoutMs, slot, entry, kCamSetStatusPath, text, result, readError);
        if (reply == TextReply::kText) {
            ParseCamSetStatus(m_codec, text, entry);
        } else if (reply == TextReply::kReadError) {
            m_log.trace(1, "ReqGetCamSetCgi: Read Error dwError=%d.", readError);
            setField(entry.szTitle, std::u16string_view());
            result = kCgiFailed;
        }
        return result;
    } catch (...) {
        return kCgiFailed;
    }
}

int CCGI::SetNetCgi(CgiSessionSlot& slot, const CameraEntry& newEntry,
                    const CameraEntry& curEntry) {
    try {
        // The camera has its new address already but still listens on its old port and scheme.
        const std::string base = m_codec.toWire(MakeBaseUrl(
            fieldView(newEntry.szIp), fieldView(curEntry.szPort), fieldView(curEntry.szSsl)));
        CreateSession(slot, kCgiTimeoutMs, false);
        int status = 400;
        CgiRequestPtr request = openAsRecord(slot, base + NetCgiPath(newEntry), newEntry, status);
        if (!request) return kCgiFailed;
        if (!asciiEqualsNoCase(request->header("Content-Type"), "text/html")) return kCgiFailed;
        return answeredWithBody(*request) ? kCgiOk : kCgiFailed;
    } catch (...) {
        return kCgiFailed;
    }
}

int CCGI::SetCodecAspectCgi(CgiSessionSlot& slot, const CameraEntry& entry, std::uint16_t ratio) {
    return ConnectInitSess(kCgiCommandTimeoutMs, entry, slot, AspectRatioPath(ratio), false);
}

int CCGI::SetRebootCommand(CgiSessionSlot& slot, const CameraEntry& entry) {
    try {
        m_log.trace(1, "CamNo(%s) SetRebootCommand.", cameraNo(entry).c_str());
        const long long now = static_cast<long long>(std::time(nullptr));
        return ConnectInitSess(kCgiCommandTimeoutMs, entry, slot, RebootPath(now), false);
    } catch (...) {
        return kCgiFailed;
    }
}

int CCGI::SetSDHDDUnmountCommand(CgiSessionSlot& slot, const CameraEntry& entry) {
    try {
        m_log.trace(1, "CamNo(%s) SetSDHDDUnmountCommand.", cameraNo(entry).c_str());
        return ConnectInitSess(kCgiCommandTimeoutMs, entry, slot, kSdHddUnmountPath, false);
    } catch (...) {
        return kCgiFailed;
    }
}

int CCGI::ReqGetRecordCgi(CgiSessionSlot& slot, const CameraEntry& entry, CgiRequestPtr& request) {
    return SendCommand(entry, slot, kRecordReadPath, &request);
}

std::string CCGI::MakeRecordWritePath(const CameraEntry& entry, const RecordSettings& saved,
                                      const RecordSettings& current, bool bCurrentRead) {
    try {
        const std::string params = BuildRecordWriteParams(m_codec, saved, current, bCurrentRead);
        if (params.empty()) return {};
        m_log.trace(1, "CamNo(%s) Set Record Parameter(%s)", cameraNo(entry).c_str(),
                    params.c_str());
        return kRecordReadPath + params;
    } catch (...) {
        return {};
    }
}

int CCGI::SetRecordCgi(CgiSessionSlot& slot, const CameraEntry& entry, std::string_view path) {
    if (path.empty()) return kCgiFailed;
    return ConnectInitSess(kCgiRecordWriteTimeoutMs, entry, slot, path, false);
}

long CCGI::SetFactoryDefaultCommand(CgiSessionSlot& slot, const CameraEntry& entry, int num) {
    try {
        return GetSessionAndCommandSend(entry, slot, FactoryDefaultPath(num), kCgiCommandTimeoutMs,
                                        false);
    } catch (...) {
        return kCgiFailed;
    }
}

int CCGI::commandGet(CgiSessionSlot& slot, const CameraEntry& entry, std::string_view path,
                     CgiRequestPtr* request) {
    try {
        if (!slot) CreateSession(slot, kCgiCommandTimeoutMs, false);
    } catch (...) {
        return kCgiFailed;
    }
    const int result = SendCommand(entry, slot, path, request);
    return result == kCgiException ? kCgiFailed : result;
}

int CCGI::ReqGetDiscon3Cgi(CgiSessionSlot& slot, const CameraEntry& entry, CgiRequestPtr* request) {
    return commandGet(slot, entry, kDiscon3Path, request);
}

int CCGI::ReqGetFirmupCgi(CgiSessionSlot& slot, const CameraEntry& entry, CgiRequestPtr* request) {
    return commandGet(slot, entry, kFirmupPath, request);
}

}  // namespace lanrove
