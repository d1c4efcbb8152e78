#include "app/site_report.h"

#include <unistd.h>

#include <algorithm>
#include <array>

#include "app/finding_words.h"
#include "app/lang_table.h"
#include "app/language.h"
#include "cgi/live_image.h"
#include "support/base64.h"
#include "support/text.h"

namespace lanrove {

namespace {

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

std::vector<ChangeRecord> changesOfDay(const std::vector<ChangeRecord>& all,
                                       const std::string& date) {
    std::vector<ChangeRecord> out;
    for (const ChangeRecord& r : all)
        if (r.time.compare(0, date.size(), date) == 0) out.push_back(r);
    return out;
}

std::string reportLabel(const SiteReportData& d, std::string_view key) {
    if (auto it = d.labels.find(key); it != d.labels.end()) return it->second;
    const std::u16string k = fromUtf8(key);
    for (const LangEntry& e : addedDefaults(languageColumn(d.langId)))
        if (e.section == u"REPORT" && e.key == k) return toUtf8(e.text);
    return std::string(key);
}

std::string reportPageLine(const SiteReportData& d, int page, int pages) {
    std::string line = reportLabel(d, "PAGE");
    auto put = [&line](std::string_view mark, int value) {
        if (const std::size_t at = line.find(mark); at != std::string::npos)
            line.replace(at, mark.size(), std::to_string(value));
    };
    put("%1", page);
    put("%2", pages);
    return line;
}

std::vector<std::string> reportAdapterLines(const SiteReportData& d) {
    std::vector<std::string> lines;
    std::string_view rest = d.adapter;
    while (!rest.empty()) {
        std::size_t end = rest.find_first_of(";\n");
        std::string_view line = rest.substr(0, end);
        while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
        if (!line.empty()) lines.emplace_back(line);
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return lines;
}

std::string hostSiteName() {
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0) return {};
    return neutralisedUtf8(std::string_view(name.data()));
}

namespace {

// Text that a line break must never split: "gw 1.2.3.4" stays together.
std::string keepTogether(std::string html) {
    for (std::size_t p = html.find("gw "); p != std::string::npos; p = html.find("gw ", p + 3))
        html.replace(p, 3, "gw&nbsp;");
    return html;
}

// "%1 of %2" as a CSS content value with the page counters in place of the marks.
std::string cssPageContent(const std::string& pattern) {
    std::string out;
    std::string literal;
    auto flush = [&] {
        if (literal.empty()) return;
        std::string quoted = "\"";
        for (char c : literal) {
            if (c == '"' || c == '\\') quoted += '\\';
            quoted += c;
        }
        out += quoted + "\" ";
        literal.clear();
    };
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() &&
            (pattern[i + 1] == '1' || pattern[i + 1] == '2')) {
            flush();
            out += pattern[i + 1] == '1' ? "counter(page) " : "counter(pages) ";
            ++i;
        } else if (static_cast<unsigned char>(pattern[i]) >= 0x20 && pattern[i] != '<' &&
                   pattern[i] != '>' && pattern[i] != '{' && pattern[i] != '}' &&
                   pattern[i] != ';') {
            literal += pattern[i];
        }
    }
    flush();
    return out;
}

std::string cssString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20 || c == '<' || c == '>') continue;
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::string buildReportHtml(const SiteReportData& d, PictureRefs pictures) {
    auto t = [&d](std::string_view key) { return escape(reportLabel(d, key)); };
    std::string h;
    h.reserve(4096 + d.rows.size() * 512);
    const std::string running =
        reportLabel(d, "TITLE") + " \xE2\x80\x94 " + d.site + " \xE2\x80\x94 " + d.when;
    // Printed: landscape A4, the site and date on top of every page, "n of m" below, the
    // table's header on every page, no row split, addresses never broken.
    h += "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + t("TITLE") +
         "</title>\n<style>@page{size:A4 landscape;margin:12mm 10mm;"
         "@top-left{content:" +
         cssString(running) +
         ";font:8pt sans-serif}@bottom-right{content:" + cssPageContent(reportLabel(d, "PAGE")) +
         ";font:8pt sans-serif}}"
         "body{font-family:sans-serif;font-size:10pt}"
         "table{border-collapse:collapse}td,th{border:1px solid #888;padding:2px 4px;"
         "vertical-align:top;text-align:left}th{background:#ddd}thead{display:table-header-group}"
         "tr{break-inside:avoid;page-break-inside:avoid}.nw{white-space:nowrap}"
         "tr.findings td{border-top:none;padding-left:2em}.cam td{border-bottom-style:dotted}"
         ".error{color:#b00}.warning{color:#a60}.info{color:#036}"
         "</style></head><body>\n";
    h += "<h1>" + t("TITLE") + "</h1>\n<table>\n";
    h += "<tr><th>" + t("SITE") + "</th><td>" + escape(d.site) + "</td></tr>\n";
    h += "<tr><th>" + t("WHEN") + "</th><td>" + escape(d.when) + "</td></tr>\n";
    h += "<tr><th>" + t("ADAPTER") + "</th><td>";
    const std::vector<std::string> adapters = reportAdapterLines(d);
    for (std::size_t i = 0; i < adapters.size(); ++i)
        h += (i == 0 ? "" : "<br>\n") + keepTogether(escape(adapters[i]));
    h += "</td></tr>\n";
    h += "<tr><th>" + t("COUNTERS") + "</th><td>" + t("TOTAL") + " " + std::to_string(d.total) +
         " &nbsp; " + t("NEW") + " " + std::to_string(d.newCount) + " &nbsp; " + t("OK") + " " +
         std::to_string(d.ok) + " &nbsp; " + t("CAUTION") + " " + std::to_string(d.attention) +
         "</td></tr>\n";
    h += "<tr><th>" + t("PC_FINDINGS") + "</th><td>";
    if (d.pcFindings.empty()) h += t("NONE");
    for (const std::string& f : d.pcFindings) h += escape(f) + "<br>";
    h += "</td></tr>\n</table>\n";

    bool anyPicture = false;
    for (const auto& r : d.rows) anyPicture = anyPicture || !r.snapshot.empty();
    int columns = 9;
    h += "<h2>" + t("CAMERAS") + "</h2>\n<table>\n<thead><tr>";
    for (const char* k :
         {"NO", "STATUS", "MODEL", "MAC", "IP", "PORT", "SSL", "CAM_TITLE", "FIRMWARE"})
        h += "<th>" + t(k) + "</th>";
    if (anyPicture) {
        h += "<th>" + t("PICTURE") + "</th>";
        ++columns;
    }
    h += "</tr></thead>\n<tbody>\n";
    for (std::size_t i = 0; i < d.rows.size(); ++i) {
        const SiteReportRow& r = d.rows[i];
        // The camera's row and its findings below it at full width stay on one page.
        h += r.findings.empty() ? "<tr>" : "<tr class=\"cam\">";
        const std::string* cells[] = {&r.no,   &r.status, &r.model, &r.mac,     &r.ip,
                                      &r.port, &r.ssl,    &r.title, &r.firmware};
        for (std::size_t c = 0; c < std::size(cells); ++c) {
            const bool whole = c == 0 || c == 1 || c == 3 || c == 4 || c == 5;
            h += (whole ? "<td class=\"nw\">" : "<td>") + escape(*cells[c]) + "</td>";
        }
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
        if (!r.findings.empty()) {
            h += "<tr class=\"findings\"><td colspan=\"" + std::to_string(columns) + "\">";
            for (const std::string& f : r.findings) {
                const char* cls = f.rfind("error", 0) == 0  ? "error"
                                  : f.rfind("info", 0) == 0 ? "info"
                                                            : "warning";
                h += std::string("<span class=\"") + cls + "\">" + escape(f) + "</span><br>";
            }
            h += "</td></tr>\n";
        }
    }
    h += "</tbody></table>\n<h2>" + t("CHANGES") + "</h2>\n";
    if (d.changes.empty()) {
        h += "<p>" + t("NO_CHANGES") + "</p>\n";
    } else {
        h += "<table>\n<thead><tr>";
        for (const char* k : {"TIME", "KIND", "MAC", "BEFORE", "AFTER", "RESULT"})
            h += "<th>" + t(k) + "</th>";
        h += "</tr></thead>\n<tbody>\n";
        for (const ChangeRecord& c : d.changes)
            h += "<tr><td class=\"nw\">" + escape(c.time) + "</td><td>" + escape(c.kind) +
                 "</td><td class=\"nw\">" + escape(c.mac) + "</td><td>" +
                 keepTogether(escape(c.before)) + "</td><td>&rarr; " +
                 keepTogether(escape(c.after)) + "</td><td>" + escape(c.result) + "</td></tr>\n";
        h += "</tbody></table>\n";
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
                                 const std::function<bool()>& stop, const PictureShrinker& shrink,
                                 const std::function<void(int, int)>& progress,
                                 const std::vector<OnvifDevice>& onvif) {
    SiteReportData d;
    d.langId = core.langId();
    d.site = hostSiteName();
    d.when = journalTimeNow();
    for (const LangEntry& e : addedDefaults(languageColumn(d.langId)))
        if (e.section == u"REPORT") {
            const std::string key = toUtf8(e.key);
            const std::string text = core.texts().text("REPORT", key.c_str());
            if (!text.empty()) d.labels[key] = text;
        }
    for (const AdapterEntry& a : core.adapters())
        d.adapter += (d.adapter.empty() ? "" : "; ") + std::string(a.ifName()) + " " +
                     std::string(a.ip()) + "/" + std::string(a.mask()) + " gw " +
                     std::string(a.gateway());
    const CameraStore& st = core.store();
    d.total = st.m_nTotal;
    d.newCount = st.m_nNew;
    d.ok = st.m_nOk;
    d.attention = st.m_nAttention;
    // A finding on an ONVIF device (no record, no group, the device's address) goes to its
    // row; the others without a record are the PC's.
    auto onvifRowOf = [&onvif](const Finding& f) {
        if (f.recordIndex >= 0 || !f.records.empty() || f.ip.empty()) return -1;
        for (std::size_t i = 0; i < onvif.size(); ++i)
            if (onvifDeviceIp(onvif[i]) == f.ip) return static_cast<int>(i);
        return -1;
    };
    for (const Finding& f : doctor.findings)
        if (f.recordIndex < 0 && onvifRowOf(f) < 0)
            d.pcFindings.push_back(findingLine(f, core.texts()));
    CameraListModel& list = core.list();
    int toFetch = 0;
    if (snapshots)
        for (int r = 0; r < list.rowCount(); ++r) {
            const int rec = static_cast<std::size_t>(r) < records.size() ? records[r] : -1;
            if (rec >= 0 && reachable(doctor.findings, rec)) ++toFetch;
        }
    int fetched = 0;
    if (progress && toFetch > 0) progress(0, toFetch);
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
                row.findings.push_back(findingLine(f, core.texts()));
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
            if (progress) progress(++fetched, toFetch);
        }
        d.rows.push_back(std::move(row));
    }
    for (std::size_t i = 0; i < onvif.size(); ++i) {
        const std::vector<std::string> t = onvifRowTexts(onvif[i]);
        SiteReportRow row;
        row.no = t[0];
        row.status = t[1];
        row.model = t[2];
        row.mac = t[3];
        row.ip = t[4];
        row.port = t[5];
        row.ssl = t[6];
        row.title = t[7];
        row.firmware = t[8];
        for (const Finding& f : doctor.findings)
            if (onvifRowOf(f) == static_cast<int>(i))
                row.findings.push_back(findingLine(f, core.texts()));
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
