// lanrove-cli report: searches, runs the doctor and writes the site handover report (HTML with
// inline pictures, or PDF) with the changes this program made today.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "app/language.h"
#include "app/site_report.h"
#include "cgi/live_image.h"
#include "cli/commands.h"
#include "cli/site_survey.h"
#include "support/text.h"
#ifdef LANROVE_HAVE_PDF
#include "report/pdf_writer.h"
#endif

namespace lanrove::cli {

namespace {

constexpr const char* kUsage =
    "usage: lanrove-cli report --out FILE.html|FILE.pdf [--snapshots] [--quiet] "
    "[--interface IF] [--home DIR]\n";

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Cameras that the doctor found unreachable over HTTP get no picture request.
bool reachable(const std::vector<Finding>& findings, int recordIndex) {
    for (const Finding& f : findings)
        if (f.recordIndex == recordIndex &&
            (f.code == finding::kHttpClosed || f.code == finding::kHttpSilent ||
             f.code == finding::kOutsideSubnet || f.code == finding::kSslMismatch))
            return false;
    return true;
}

SiteReportData collect(SetupCore& core, const Survey& s, bool snapshots) {
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
    for (const Finding& f : s.doctor.findings)
        if (f.recordIndex < 0) d.pcFindings.push_back(findingLine(f));
    CameraListModel& list = core.list();
    const std::vector<int> records = listRecords(core);
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
        for (const Finding& f : s.doctor.findings)
            if (f.recordIndex >= 0 && f.recordIndex == row.recordIndex)
                row.findings.push_back(findingLine(f));
        if (snapshots && row.recordIndex >= 0 && reachable(s.doctor.findings, row.recordIndex) &&
            !interrupted()) {
            const CameraEntry& entry = st.m_CamTable[static_cast<std::size_t>(row.recordIndex)];
            CgiSessionSlot slot;
            LiveImage image;
            if (GetLiveImage(core.cgi(), slot, entry, image) == kCgiOk)
                row.snapshot.assign(image.bytes.data(), image.imageLength);
        }
        d.rows.push_back(std::move(row));
    }
    d.changes = changesOfDay(ChangeJournal::read(changeJournal().file()), d.when.substr(0, 10));
    return d;
}

int run(Context& ctx) {
    std::string out;
    bool snapshots = false;
    bool quiet = false;
    std::string home;
    std::string interface;
    for (std::size_t i = 0; i < ctx.args.size(); ++i) {
        const std::string& a = ctx.args[i];
        const bool hasValue = i + 1 < ctx.args.size();
        if (a == "--out" && hasValue) {
            out = ctx.args[++i];
        } else if (a == "--snapshots") {
            snapshots = true;
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "--home" && hasValue) {
            home = ctx.args[++i];
        } else if (a == "--interface" && hasValue) {
            interface = ctx.args[++i];
        } else {
            std::fprintf(stderr, "report: unknown option %s\n%s", a.c_str(), kUsage);
            return kExitUsage;
        }
    }
    const bool pdf = endsWith(out, ".pdf");
    if (out.empty() || (!pdf && !endsWith(out, ".html") && !endsWith(out, ".htm"))) {
        std::fprintf(stderr, "report: --out must name a .html or .pdf file\n%s", kUsage);
        return kExitUsage;
    }
#ifndef LANROVE_HAVE_PDF
    if (pdf) {
        std::fprintf(stderr, "report: this build cannot write PDF files\n");
        return kExitUsage;
    }
#endif
    catchInterrupts();
    CoreSession session(ctx.argv0, home);
    if (!interface.empty() && !session.useInterface(interface)) {
        std::fprintf(stderr, "report: no adapter named %s\n", interface.c_str());
        return kExitUsage;
    }
    const Survey s = surveySite(session, quiet);
    if (!s.searched) return 130;
    const auto t0 = std::chrono::steady_clock::now();
    const SiteReportData data = collect(session.core(), s, snapshots);
    if (pdf) {
#ifdef LANROVE_HAVE_PDF
        std::vector<PdfPicture> pictures;
        for (std::size_t i = 0; i < data.rows.size(); ++i)
            if (!data.rows[i].snapshot.empty())
                pictures.push_back({snapshotResourceName(i), data.rows[i].snapshot});
        std::string error;
        if (!writeReportPdf(buildReportHtml(data, PictureRefs::Resources), pictures, out, error)) {
            std::fprintf(stderr, "report: cannot write %s: %s\n", out.c_str(), error.c_str());
            return kExitFailure;
        }
#endif
    } else {
        std::ofstream file(out, std::ios::binary | std::ios::trunc);
        file << buildReportHtml(data, PictureRefs::Inline);
        file.close();
        if (!file) {
            std::fprintf(stderr, "report: cannot write %s\n", out.c_str());
            return kExitFailure;
        }
    }
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!quiet)
        std::fprintf(stderr,
                     "report: %zu cameras, %zu changes, search %.3fs, checks %.3fs, report %.3fs\n",
                     data.rows.size(), data.changes.size(), s.searchSeconds, s.doctorSeconds, secs);
    return kExitOk;
}

const CommandRegistration reg{
    {"report",
     "report --out FILE.html|FILE.pdf [--snapshots] [--interface IF]  write the site handover "
     "report",
     &run}};

}  // namespace

}  // namespace lanrove::cli
