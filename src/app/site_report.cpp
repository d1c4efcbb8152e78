#include "app/site_report.h"

#include <algorithm>

#include "app/language.h"
#include "cgi/live_image.h"
#include "support/base64.h"
#include "support/text.h"

namespace lanrove {

namespace {

enum Text {
    kTitle,
    kWhen,
    kAdapter,
    kCounters,
    kTotal,
    kNew,
    kOk,
    kAttention,
    kPcFindings,
    kNone,
    kCameras,
    kNo,
    kStatus,
    kModel,
    kMac,
    kIp,
    kPort,
    kSsl,
    kCamTitle,
    kFirmware,
    kFindings,
    kPicture,
    kChanges,
    kTime,
    kKind,
    kBefore,
    kAfter,
    kResult,
    kNoChanges,
    kTextCount
};

// Columns: Japanese, English, Chinese (the order of languageColumn()).
const char* const kTexts[kTextCount][3] = {
    {"現場引き渡し報告書", "Site handover report", "现场交接报告"},
    {"日時", "Date and time", "日期和时间"},
    {"PC のアダプター", "PC adapter", "PC 网络适配器"},
    {"カウンター", "Counters", "计数"},
    {"合計", "Total", "合计"},
    {"新規", "New", "新"},
    {"OK", "OK", "OK"},
    {"要注意", "Attention", "注意"},
    {"PC の診断結果", "PC findings", "PC 诊断结果"},
    {"なし", "None", "无"},
    {"カメラ", "Cameras", "摄像机"},
    {"No.", "No.", "No."},
    {"状態", "Status", "状态"},
    {"機種", "Model", "型号"},
    {"MAC アドレス", "MAC address", "MAC 地址"},
    {"IP アドレス", "IP address", "IP 地址"},
    {"ポート", "Port", "端口"},
    {"SSL", "SSL", "SSL"},
    {"タイトル", "Title", "标题"},
    {"ファームウェア", "Firmware", "固件"},
    {"診断結果", "Findings", "诊断结果"},
    {"画像", "Picture", "图像"},
    {"変更履歴", "Changes made", "所做的更改"},
    {"時刻", "Time", "时间"},
    {"種類", "Kind", "类型"},
    {"変更前", "Before", "更改前"},
    {"変更後", "After", "更改后"},
    {"結果", "Result", "结果"},
    {"本日の変更はありません", "No changes today", "今天没有更改"},
};

constexpr std::size_t kPrintedRowsPerTable = 10;

// Markup characters become entities; control characters but the line end (the adapter cell
// has one line per adapter) and direction overrides (a camera's title may carry them) become
// U+FFFD, so no text reorders or hides the cells around it.
std::string escape(std::string_view text) {
    std::string s;
    for (std::size_t from = 0;;) {
        const std::size_t end = text.find('\n', from);
        s += neutralisedUtf8(text.substr(from, end == std::string_view::npos ? end : end - from));
        if (end == std::string_view::npos) break;
        s += '\n';
        from = end + 1;
    }
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace

std::string snapshotResourceName(std::size_t row) {
    return "snapshot-" + std::to_string(row) + ".jpg";
}

std::string findingLine(const Finding& f) {
    return std::string(severityName(f.severity)) + ": " + f.code + ": " + f.evidence + ". " + f.fix;
}

std::vector<ChangeRecord> changesOfDay(const std::vector<ChangeRecord>& all,
                                       const std::string& date) {
    std::vector<ChangeRecord> out;
    for (const ChangeRecord& r : all)
        if (r.time.compare(0, date.size(), date) == 0) out.push_back(r);
    return out;
}

std::string buildReportHtml(const SiteReportData& d, PictureRefs pictures) {
    const int lang = languageColumn(d.langId);
    auto t = [lang](Text k) { return std::string(kTexts[k][lang]); };
    std::string h;
    h.reserve(4096 + d.rows.size() * 512);
    h += "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + t(kTitle) +
         "</title>\n<style>body{font-family:sans-serif;font-size:10pt}"
         "table{border-collapse:collapse}td,th{border:1px solid #888;padding:2px 4px;"
         "vertical-align:top}th{background:#ddd}.error{color:#b00}.warning{color:#a60}"
         "</style></head><body>\n";
    h += "<h1>" + t(kTitle) + "</h1>\n<table>\n";
    h += "<tr><th>" + t(kWhen) + "</th><td>" + escape(d.when) + "</td></tr>\n";
    h += "<tr><th>" + t(kAdapter) + "</th><td>" + escape(d.adapter) + "</td></tr>\n";
    h += "<tr><th>" + t(kCounters) + "</th><td>" + t(kTotal) + " " + std::to_string(d.total) +
         " &nbsp; " + t(kNew) + " " + std::to_string(d.newCount) + " &nbsp; " + t(kOk) + " " +
         std::to_string(d.ok) + " &nbsp; " + t(kAttention) + " " + std::to_string(d.attention) +
         "</td></tr>\n";
    h += "<tr><th>" + t(kPcFindings) + "</th><td>";
    if (d.pcFindings.empty()) h += t(kNone);
    for (const std::string& f : d.pcFindings) h += escape(f) + "<br>";
    h += "</td></tr>\n</table>\n";

    bool anyPicture = false;
    for (const auto& r : d.rows) anyPicture = anyPicture || !r.snapshot.empty();
    std::string header = "<table>\n<tr>";
    for (Text k : {kNo, kStatus, kModel, kMac, kIp, kPort, kSsl, kCamTitle, kFirmware, kFindings})
        header += "<th>" + t(k) + "</th>";
    if (anyPicture) header += "<th>" + t(kPicture) + "</th>";
    header += "</tr>\n";
    h += "<h2>" + t(kCameras) + "</h2>\n" + header;
    // Qt's document layout slows down steeply with the rows of one table: the printed form
    // gets a table per block of rows.
    const std::size_t block = pictures == PictureRefs::Resources ? kPrintedRowsPerTable : 0;
    for (std::size_t i = 0; i < d.rows.size(); ++i) {
        if (block != 0 && i != 0 && i % block == 0) h += "</table>\n" + header;
        const SiteReportRow& r = d.rows[i];
        h += "<tr>";
        for (const std::string* cell :
             {&r.no, &r.status, &r.model, &r.mac, &r.ip, &r.port, &r.ssl, &r.title, &r.firmware})
            h += "<td>" + escape(*cell) + "</td>";
        h += "<td>";
        for (const std::string& f : r.findings) {
            const char* cls = f.rfind("error", 0) == 0 ? "error" : "warning";
            h += std::string("<span class=\"") + cls + "\">" + escape(f) + "</span><br>";
        }
        h += "</td>";
        if (anyPicture) {
            h += "<td>";
            if (!r.snapshot.empty()) {
                const std::string src = pictures == PictureRefs::Inline
                                            ? "data:image/jpeg;base64," + base64Encode(r.snapshot)
                                            : snapshotResourceName(i);
                h += "<img src=\"" + src + "\" width=\"160\" alt=\"" + escape(r.mac) + "\">";
            }
            h += "</td>";
        }
        h += "</tr>\n";
    }
    h += "</table>\n<h2>" + t(kChanges) + "</h2>\n";
    if (d.changes.empty()) {
        h += "<p>" + t(kNoChanges) + "</p>\n";
    } else {
        h += "<table>\n<tr>";
        for (Text k : {kTime, kKind, kMac, kBefore, kAfter, kResult}) h += "<th>" + t(k) + "</th>";
        h += "</tr>\n";
        for (const ChangeRecord& c : d.changes)
            h += "<tr><td>" + escape(c.time) + "</td><td>" + escape(c.kind) + "</td><td>" +
                 escape(c.mac) + "</td><td>" + escape(c.before) + "</td><td>&rarr; " +
                 escape(c.after) + "</td><td>" + escape(c.result) + "</td></tr>\n";
        h += "</table>\n";
    }
    h += "</body></html>\n";
    return h;
}

// Cameras that the doctor found unreachable over HTTP get no picture request.
namespace {
bool reachable(const std::vector<Finding>& findings, int recordIndex) {
    for (const Finding& f : findings) {
        // Cameras sharing one address: a picture could come from any of them.
        if (std::find(f.records.begin(), f.records.end(), recordIndex) != f.records.end())
            return false;
        if (f.recordIndex == recordIndex &&
            (f.code == finding::kHttpClosed || f.code == finding::kHttpSilent ||
             f.code == finding::kOutsideSubnet || f.code == finding::kSslMismatch))
            return false;
    }
    return true;
}
}  // namespace

SiteReportData collectSiteReport(SetupCore& core, const DoctorResult& doctor,
                                 const std::vector<int>& records, bool snapshots,
                                 const std::function<bool()>& stop, const PictureShrinker& shrink) {
    SiteReportData d;
    d.langId = core.langId();
    d.when = journalTimeNow();
    for (const AdapterEntry& a : core.adapters())
        d.adapter += (d.adapter.empty() ? "" : "; ") + std::string(a.ifName()) + " " +
                     std::string(a.ip()) + "/" + std::string(a.mask()) + " gw " +
                     std::string(a.gateway());
    const CameraStore& st = core.store();
    d.total = st.m_nTotal;
    d.newCount = st.m_nNew;
    d.ok = st.m_nOk;
    d.attention = st.m_nAttention;
    for (const Finding& f : doctor.findings)
        if (f.recordIndex < 0) d.pcFindings.push_back(findingLine(f));
    CameraListModel& list = core.list();
    for (int r = 0; r < list.rowCount(); ++r) {
        SiteReportRow row;
        auto cell = [&](int c) { return toUtf8(list.cell(r, c)); };
        row.no = cell(kColNo);
        row.status = cell(1);
        row.model = cell(2);
        row.mac = cell(3);
        row.ip = cell(4);
        row.port = cell(5);
        row.ssl = cell(6);
        row.title = cell(7);
        row.firmware = cell(8);
        row.recordIndex = static_cast<std::size_t>(r) < records.size() ? records[r] : -1;
        for (const Finding& f : doctor.findings)
            if (f.recordIndex >= 0 && f.recordIndex == row.recordIndex)
                row.findings.push_back(findingLine(f));
        if (snapshots && row.recordIndex >= 0 && reachable(doctor.findings, row.recordIndex) &&
            !(stop && stop())) {
            const CameraEntry& entry = st.m_CamTable[static_cast<std::size_t>(row.recordIndex)];
            CgiSessionSlot slot;
            LiveImage image;
            if (GetLiveImage(core.cgi(), slot, entry, image) == kCgiOk) {
                std::string picture(image.bytes.data(), image.imageLength);
                image = LiveImage{};  // the full reply goes before the next camera's comes
                if (shrink)
                    row.snapshot = shrink(picture);
                else if (picture.size() <= kMaxUnshrunkPicture)
                    row.snapshot = std::move(picture);
            }
        }
        d.rows.push_back(std::move(row));
    }
    d.changes = changesOfDay(ChangeJournal::read(changeJournal().file()), d.when.substr(0, 10));
    return d;
}

std::vector<int> listRecordIndexes(SetupCore& core) {
    std::vector<int> out;
    CameraListModel& list = core.list();
    out.reserve(static_cast<std::size_t>(list.rowCount()));
    for (int r = 0; r < list.rowCount(); ++r) {
        try {
            out.push_back(std::stoi(toUtf8(list.cell(r, kColNo))) - 1);
        } catch (...) {
            out.push_back(-1);  // a row without a number has no record behind it
        }
    }
    return out;
}

}  // namespace lanrove
