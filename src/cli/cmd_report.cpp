// lanrove-cli report: searches, runs the doctor and writes the site handover report (HTML with
// inline pictures, or PDF) with the changes this program made today.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/language.h"
#include "app/site_report.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "cli/site_survey.h"
#include "support/private_file.h"
#include "support/text.h"
#ifdef LANROVE_HAVE_PDF
#include "report/pdf_writer.h"
#endif

namespace lanrove::cli {

namespace {

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool isPdf(const std::string& file) {
    return endsWith(file, ".pdf");
}

// The report's file names its format: .html (or .htm) or .pdf.
CLI::Validator reportFile() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            if (isPdf(value) || endsWith(value, ".html") || endsWith(value, ".htm")) return {};
            return value + " must end in .html or .pdf";
        },
        "", "report-file");
}

// Pictures become thumbnails as they arrive where the build can decode them.
PictureShrinker pictureShrinker() {
#ifdef LANROVE_HAVE_PDF
    return shrinkPicture;
#else
    return {};
#endif
}

struct ReportOptions {
    std::string out;
    std::string site;
    bool snapshots = false;
    bool quiet = false;
    std::string home;
    std::string interface;
};

int run(const ReportOptions& o, const char* argv0) {
    const std::string& out = o.out;
    const bool pdf = isPdf(out);
#ifndef LANROVE_HAVE_PDF
    if (pdf) return usageError("report", "this build cannot write PDF files");
#endif
    catchInterrupts();
    CoreSession session(argv0, o.home);
    if (!o.interface.empty() && !session.useInterface(o.interface))
        return usageError("report", "no adapter named " + o.interface);
    const Survey s = surveySite(session, o.quiet);
    if (!s.searched) return 130;
    const auto t0 = std::chrono::steady_clock::now();
    SiteReportData data = collectSiteReport(
        session.core(), s.doctor, listRecords(session.core()), o.snapshots,
        [] { return interrupted(); }, pictureShrinker(), {}, s.onvif);
    if (!o.site.empty()) data.site = neutralisedUtf8(o.site);
    if (pdf) {
#ifdef LANROVE_HAVE_PDF
        std::string error;
        if (!writeReportPdf(data, out, error)) {
            std::fprintf(stderr, "report: cannot write %s: %s\n", out.c_str(), error.c_str());
            return kExitFailure;
        }
#endif
    } else {
        if (!writePrivateFile(out, buildReportHtml(data, PictureRefs::Inline))) {
            std::fprintf(stderr, "report: cannot write %s: %s\n", out.c_str(),
                         std::strerror(errno));
            return kExitFailure;
        }
    }
    const double secs =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!o.quiet)
        std::fprintf(stderr,
                     "report: %zu cameras, %zu changes, search %.3fs, checks %.3fs, report %.3fs\n",
                     data.rows.size(), data.changes.size(), s.searchSeconds, s.doctorSeconds, secs);
    return kExitOk;
}

Runner define(CLI::App& app, const char* argv0) {
    auto o = std::make_shared<ReportOptions>();
    app.add_option("--out", o->out, "the report file to write: FILE.html or FILE.pdf")
        ->required()
        ->type_name("FILE")
        ->check(reportFile());
    app.add_option("--site", o->site, "the site's name on every page (default: this PC's name)")
        ->type_name("NAME");
    app.add_flag("--snapshots", o->snapshots, "add a picture from each camera that can give one");
    app.add_flag("--quiet", o->quiet, "nothing on stderr but errors");
    addInterface(app, o->interface)->type_name("IF");
    addHome(app, o->home)->type_name("DIR");
    return [o, argv0] { return run(*o, argv0); };
}

const CommandRegistration reg{
    {"report", "search, run the doctor and write the site handover report (HTML or PDF)",
     "1  the report could not be written\n130  cancelled with Ctrl-C", &define}};

}  // namespace

}  // namespace lanrove::cli
