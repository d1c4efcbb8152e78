#include "cli/site_survey.h"

#include <chrono>

#include "app/site_report.h"
#include "runs/onvif_doctor.h"
#include "support/text.h"

namespace lanrove::cli {

std::vector<int> listRecords(SetupCore& core) {
    return listRecordIndexes(core);
}

Survey surveySite(CoreSession& session, bool quiet) {
    using Clock = std::chrono::steady_clock;
    Survey s;
    const auto t0 = Clock::now();
    session.probeOnvif();
    s.searched = session.search(quiet);
    const auto t1 = Clock::now();
    s.searchSeconds = std::chrono::duration<double>(t1 - t0).count();
    if (!s.searched) return s;
    SetupCore& core = session.core();
    SystemDoctorProbes probes(core.clock(), core.net(), core.cgi());
    s.doctor = runDoctor(core.adapters(), core.store().m_CamTable, listRecords(core), probes);
    // Other makers' cameras: the clock, the service, the subnet.
    std::vector<bool> alsoOnvif;
    s.onvif = devicesBesides(session.onvifDevices(), listedAddresses(core.list()), alsoOnvif);
    const OnvifTimeQuery query = systemTimeQuery(core.clock(), &core.log());
    for (Finding& f : diagnoseOnvif(s.onvif, core.adapters(), query))
        s.doctor.findings.push_back(std::move(f));
    s.doctorSeconds = std::chrono::duration<double>(Clock::now() - t1).count();
    return s;
}

}  // namespace lanrove::cli
