// lanrove-cli doctor: searches, then tells why a found camera cannot be reached or opened, and
// what on the PC stands in the way, with the evidence and the fix of each finding.
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/options.h"
#include "cli/site_survey.h"
#include "support/text.h"

namespace lanrove::cli {

namespace {

nlohmann::json findingJson(const Finding& f) {
    const bool group = f.recordIndex < 0 && !f.records.empty();
    nlohmann::json j = {{"code", f.code},
                        {"severity", severityName(f.severity)},
                        {"scope", group               ? "cameras"
                                  : f.recordIndex < 0 ? "pc"
                                                      : "camera"},
                        {"no", f.recordIndex < 0 ? 0 : f.recordIndex + 1},
                        {"mac", f.mac},
                        {"ip", f.ip},
                        {"evidence", f.evidence},
                        {"fix", f.fix}};
    if (group) {
        j["nos"] = nlohmann::json::array();
        for (int index : f.records) j["nos"].push_back(index + 1);
    }
    return j;
}

struct DoctorOptions {
    bool json = false;
    bool quiet = false;
    std::string home;
    std::string interface;
};

int run(const DoctorOptions& o, const char* argv0) {
    catchInterrupts();
    CoreSession session(argv0, o.home);
    if (!o.interface.empty() && !session.useInterface(o.interface))
        return usageError("doctor", "no adapter named " + o.interface);
    const Survey s = surveySite(session, o.quiet || o.json);
    if (!s.searched) return 130;
    if (!o.quiet)
        std::fprintf(stderr, "doctor: %d cameras, search %.3fs, checks %.3fs\n",
                     s.doctor.camerasChecked, s.searchSeconds, s.doctorSeconds);
    int errors = 0;
    for (const Finding& f : s.doctor.findings) errors += f.severity == Severity::Error ? 1 : 0;
    if (o.json) {
        nlohmann::json out;
        out["cameras"] = s.doctor.camerasChecked;
        out["findings"] = nlohmann::json::array();
        for (const Finding& f : s.doctor.findings) out["findings"].push_back(findingJson(f));
        out["seconds"] = {{"search", s.searchSeconds}, {"checks", s.doctorSeconds}};
        printJsonDocument(out);
    } else if (s.doctor.findings.empty()) {
        std::printf("No findings: the PC and all %d cameras look fine.\n", s.doctor.camerasChecked);
    } else {
        for (const Finding& f : s.doctor.findings) {
            std::string who = "PC";
            if (f.recordIndex >= 0)
                who = "No." + std::to_string(f.recordIndex + 1) + " " + f.mac + " " + f.ip;
            else if (!f.records.empty())
                who = std::to_string(f.records.size()) + " cameras " + f.ip;
            std::printf("%-7s %-24s %s\n        evidence: %s\n        fix: %s\n",
                        severityName(f.severity), f.code.c_str(), who.c_str(),
                        neutralisedUtf8(f.evidence).c_str(), f.fix.c_str());
        }
    }
    return errors > 0 ? kExitFailure : kExitOk;
}

Runner define(CLI::App& app, const char* argv0) {
    auto o = std::make_shared<DoctorOptions>();
    addJson(app, o->json);
    app.add_flag("--quiet", o->quiet, "nothing on stderr but errors");
    addInterface(app, o->interface)->type_name("IF");
    addHome(app, o->home)->type_name("DIR");
    return [o, argv0] { return run(*o, argv0); };
}

const CommandRegistration reg{
    {"doctor", "search, then report what keeps cameras from being reached or opened",
     "1  a finding of severity error\n130  cancelled with Ctrl-C", &define}};

}  // namespace

}  // namespace lanrove::cli
