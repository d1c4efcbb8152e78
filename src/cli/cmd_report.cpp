// lanrove-cli report: searches, runs the doctor and writes the site handover report (HTML with
// inline pictures, or PDF) with the changes this program made today.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "app/language.h"
#include "app/site_report.h"
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
    const SiteReportData data =
        collectSiteReport(session.core(), s.doctor, listRecords(session.core()), snapshots,
                          [] { return interrupted(); });
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
