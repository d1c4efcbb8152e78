#include "firmware/version_check.h"

#include "firmware/search_file_ctrl.h"
#include "support/text.h"
#include "support/trace_log.h"

namespace lanrove {

namespace {

// Joins the decimal digits of the text; nothing when there are none or they exceed
// 32 bits (a text that long is no version).
std::optional<std::uint32_t> joinedDigits(std::u16string_view text) {
    std::uint64_t value = 0;
    bool any = false;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') continue;
        any = true;
        value = value * 10 + static_cast<std::uint64_t>(c - u'0');
        if (value > UINT32_MAX) return std::nullopt;
    }
    if (!any) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

std::u16string_view trimmed(std::u16string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::u16string_view beforeParenthesis(std::u16string_view text) {
    const std::size_t open = text.find(u'(');
    return open == std::u16string_view::npos ? text : text.substr(0, open);
}

}  // namespace

ParsedVersion ParseVersionText(std::u16string_view text) {
    // The digits are ASCII in every code page the cameras use, so the text is read as it is.
    ParsedVersion parsed;
    const std::size_t open = text.find(u'(');
    if (open == std::u16string_view::npos) return parsed;
    bool ok = true;
    if (open == 0) {
        ok = false;  // no main part; the day number is still read
    } else if (const auto main = joinedDigits(text.substr(0, open))) {
        parsed.dwMain = *main;
    } else {
        return parsed;
    }
    const std::size_t close = text.find(u')', open + 1);
    if (close != std::u16string_view::npos) {
        if (const auto day = joinedDigits(text.substr(open + 1, close - open - 1)))
            parsed.dwDay = *day;
        else
            ok = false;
    }
    parsed.bOk = ok;
    return parsed;
}

std::u16string_view CameraVersionText(const CameraEntry& camera, std::uint16_t kind) {
    switch (kind) {
        case kKindCamMain:
            return fieldView(camera.szCamMainVer);
        case kKindCamSub:
            return fieldView(camera.szCamSubVer);
        case kKindNetMain:
            return fieldView(camera.szNetMainVer);
        case kKindNetSub:
            return fieldView(camera.szNetSubVer);
        case kKindMecMain:
            return fieldView(camera.szMecMainVer);
        case kKindIoMain:
            return fieldView(camera.szIoMainVer);
        default:
            return {};
    }
}

std::uint32_t CompareFirmwareVersion(const CameraEntry& camera, const FirmwareCatalogueRow& row,
                                     std::uint32_t fileNumber, TraceLog& log) {
    const std::string no = fieldUtf8(camera.szNo);
    std::u16string_view text = CameraVersionText(camera, row.wKind);
    if (text.size() > 31) text = text.substr(0, 31);
    if (row.wKind >= kKindCamMain && row.wKind <= kKindIoMain)
        log.trace(1, "CamNo(%s) CheckVersion VersionComp%u Set(%s).", no.c_str(),
                  static_cast<unsigned>(row.wKind), toUtf8(text).c_str());
    if (text.empty()) {
        log.trace(1, "CamNo(%s) CheckVersion Non Version Info.", no.c_str());
        return kVersionNoInfo;
    }
    const ParsedVersion parsed = ParseVersionText(text);
    if (!parsed.bOk) {
        log.trace(1, "CamNo(%s) GetFirmVer Search Virsion String Error.", no.c_str());
        return kVersionNoInfo;
    }
    const char* form = nullptr;
    std::uint32_t cam = 0;
    if (row.wVersionFormat == 1) {
        form = "MainVerCompFmt";
        cam = parsed.dwMain;
    } else if (row.wVersionFormat == 2) {
        form = "DayVerCompFmt";
        cam = parsed.dwDay;
    } else {
        return kFirmStatusInvalid;
    }
    const auto c = static_cast<unsigned long>(cam);
    const auto f = static_cast<unsigned long>(fileNumber);
    if (cam == fileNumber) {
        log.trace(1, "CamNo(%s) %s New Firmware CamVer(%lu) FileVer(%lu).", no.c_str(), form, c, f);
        return kFirmStatusLatest;
    }
    if (cam < fileNumber) {
        log.trace(1, "CamNo(%s) %s Effect Firmware CamVer(%lu) FileVer(%lu).", no.c_str(), form, c,
                  f);
        return kFirmStatusUpdateReady;
    }
    log.trace(1, "CamNo(%s) %s New Ivalid Firmware CamVer(%lu) FileVer(%lu).", no.c_str(), form, c,
              f);
    return kFirmStatusLatest;
}

std::uint32_t CheckVersion(CameraEntry& camera, const FirmwareCatalogueRow& row,
                           std::uint32_t fileNumber, TraceLog& log,
                           const RefreshVersions& refresh) {
    const std::string no = fieldUtf8(camera.szNo);
    log.trace(1, "CamNo(%s) CheckVersion Start.", no.c_str());
    const VersionRefresh refreshed = refresh ? refresh(camera) : VersionRefresh::Ok;
    if (refreshed == VersionRefresh::OutsideSubnet) {
        log.trace(1, "CamNo(%s) CheckVersion Network Check Error.", no.c_str());
        return kVersionUnreachable;
    }
    if (refreshed == VersionRefresh::QueryFailed) {
        log.trace(1, "CamNo(%s) CheckVersion ReqGetCamSetCgi Error(%d).", no.c_str(),
                  static_cast<int>(kFirmStatusInvalid));
        return kVersionUnreachable;
    }
    return CompareFirmwareVersion(camera, row, fileNumber, log);
}

std::optional<std::u16string> BuildFirmVersionText(const CameraEntry& camera,
                                                   const FirmwareCatalogueRow& row) {
    if (row.wGeneration == 1) return std::nullopt;
    std::u16string text;
    if (row.wMethod == 1) {
        text = u"Main:";
        text += trimmed(fieldView(camera.szCamMainVer));
        text += u" Sub:";
        text += trimmed(fieldView(camera.szCamSubVer));
        return text;
    }
    if (row.wMethod != 2) return std::nullopt;
    const auto add = [&text](const char16_t* label, std::u16string_view value) {
        text += label;
        text += trimmed(beforeParenthesis(value));
        text += u' ';
    };
    add(u"CM Ver ", fieldView(camera.szCamMainVer));
    add(u"CS Ver ", fieldView(camera.szCamSubVer));
    add(u"NM Ver ", fieldView(camera.szNetMainVer));
    add(u"NS Ver ", fieldView(camera.szNetSubVer));
    if (!fieldEmpty(camera.szMecMainVer) && !fieldEmpty(camera.szIoMainVer)) {
        add(u"MM Ver ", fieldView(camera.szMecMainVer));
        add(u"IO Ver ", fieldView(camera.szIoMainVer));
    }
    return text;
}

bool SetFirmVersionText(CameraEntry& camera, const FirmwareCatalogueRow& row) {
    const auto text = BuildFirmVersionText(camera, row);
    if (!text) return false;
    setField(camera.szFirmVer, std::u16string_view(*text));  // the field keeps 127 characters
    return true;
}

}  // namespace lanrove
