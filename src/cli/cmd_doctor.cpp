// lanrove-cli doctor: searches, then tells why a found camera cannot be reached or opened, and
// what on the PC stands in the way, with the evidence and the fix of each finding.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/commands.h"
#include "cli/site_survey.h"

namespace lanrove::cli {

namespace {

constexpr const char* kUsage =
    "usage: lanrove-cli doctor [--json] [--quiet] [--interface IF] [--home DIR]\n";

nlohmann::json findingJson(const Finding& f) {
    return {{"code", f.code},
            {"severity", severityName(f.severity)},
            {"scope", f.recordIndex < 0 ? "pc" : "camera"},
            {"no", f.recordIndex < 0 ? 0 : f.recordIndex + 1},
            {"mac", f.mac},
            {"ip", f.ip},
            {"evidence", f.evidence},
            {"fix", f.fix}};
}

int run(Context& ctx) {
    bool json = false;
    bool quiet = false;
    std::string home;
    std::string interface;
    for (std::size_t i = 0; i < ctx.args.size(); ++i) {
        const std::string& a = ctx.args[i];
        const bool hasValue = i + 1 < ctx.args.size();
        if (a == "--json") {
            json = true;
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "--home" && hasValue) {
            home = ctx.args[++i];
        } else if (a == "--interface" && hasValue) {
            interface = ctx.args[++i];
        } else {
            std::fprintf(stderr, "doctor: unknown option %s\n%s", a.c_str(), kUsage);
            return kExitUsage;
        }
    }
    catchInterrupts();
    CoreSession session(ctx.argv0, home);
    if (!interface.empty() && !session.useInterface(interface)) {
        std::fprintf(stderr, "doctor: no adapter named %s\n", interface.c_str());
        return kExitUsage;
    }
    const Survey s = surveySite(session, quiet || json);
    if (!s.searched) return 130;
    if (!quiet)
        std::fprintf(stderr, "doctor: %d cameras, search %.3fs, checks %.3fs\n",
                     s.doctor.camerasChecked, s.searchSeconds, s.doctorSeconds);
    int errors = 0;
    for (const Finding& f : s.doctor.findings) errors += f.severity == Severity::Error ? 1 : 0;
    if (json) {
        nlohmann::json out;
        out["cameras"] = s.doctor.camerasChecked;
        out["findings"] = nlohmann::json::array();
        for (const Finding& f : s.doctor.findings) out["findings"].push_back(findingJson(f));
        out["seconds"] = {{"search", s.searchSeconds}, {"checks", s.doctorSeconds}};
        std::printf("%s\n", out.dump(2).c_str());
    } else if (s.doctor.findings.empty()) {
        std::printf("No findings: the PC and all %d cameras look fine.\n", s.doctor.camerasChecked);
    } else {
        for (const Finding& f : s.doctor.findings) {
            const std::string who = f.recordIndex < 0 ? std::string("PC")
                                                      : "No." + std::to_string(f.recordIndex + 1) +
                                                            " " + f.mac + " " + f.ip;
            std::printf("%-7s %-24s %s\n        evidence: %s\n        fix: %s\n",
                        severityName(f.severity), f.code.c_str(), who.c_str(), f.evidence.c_str(),
                        f.fix.c_str());
        }
    }
    return errors > 0 ? kExitFailure : kExitOk;
}

const CommandRegistration reg{
    {"doctor",
     "doctor [--json] [--quiet] [--interface IF]  search, then report what keeps cameras "
     "from being reached or opened",
     &run}};

}  // namespace

}  // namespace lanrove::cli
