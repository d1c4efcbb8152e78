#pragma once
// What the doctor and the handover report share: the search, then the doctor's checks over the
// rows of the list, timed apart from the search.

#include <string>
#include <vector>

#include "cli/core_session.h"
#include "runs/onvif_discovery.h"
#include "runs/site_doctor.h"

namespace lanrove::cli {

// Camera-table indexes of the list's rows, in list order.
std::vector<int> listRecords(SetupCore& core);

struct Survey {
    bool searched = false;           // false when Ctrl-C cancelled the search
    DoctorResult doctor;             // ONVIF devices' findings after the cameras'
    std::vector<OnvifDevice> onvif;  // other makers' ONVIF cameras
    double searchSeconds = 0;
    double doctorSeconds = 0;
};

// Searches, then runs the doctor on the adapters and the list.
Survey surveySite(CoreSession& session, bool quiet);

}  // namespace lanrove::cli
