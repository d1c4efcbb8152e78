#pragma once
// The site handover report: the site's date and time, the PC's adapter, the counters, one row
// per camera with its doctor findings, optional live-picture thumbnails and the changes this
// program made today. Built as one self-contained HTML text; pictures are either inline (data
// URLs) or named resources that a document renderer supplies.

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/setup_core.h"
#include "runs/change_journal.h"
#include "runs/onvif_discovery.h"
#include "runs/site_doctor.h"

namespace lanrove {

struct SiteReportRow {
    int recordIndex = -1;
    std::string no, status, model, mac, ip, port, ssl, title, firmware;
    std::vector<std::string> findings;  // "severity: code: evidence. Fix: ..."
    std::string snapshot;               // JPEG bytes, empty without a picture
};

struct SiteReportData {
    unsigned langId = 1033;
    std::string site;     // the site's name (the PC's host name unless given)
    std::string when;     // local date and time
    std::string adapter;  // "eth0 192.168.0.10/255.255.255.0 gw 192.168.0.1", one per line
    int total = 0, newCount = 0, ok = 0, attention = 0;
    std::vector<std::string> pcFindings;
    std::vector<SiteReportRow> rows;
    std::vector<ChangeRecord> changes;
    // The headings as the text table gives them (Language.ini included), by key of the
    // "REPORT" section; a key missing here comes from the built-in texts of `langId`.
    std::map<std::string, std::string, std::less<>> labels;
};

// One heading of the report ("TITLE", "MAC", "PAGE", ...).
std::string reportLabel(const SiteReportData& data, std::string_view key);
// "Page 2 of 5" in the report's language.
std::string reportPageLine(const SiteReportData& data, int page, int pages);
// The adapter cell's lines, one per adapter.
std::vector<std::string> reportAdapterLines(const SiteReportData& data);
// The PC's host name, the report's site when none is given.
std::string hostSiteName();

enum class PictureRefs { Inline, Resources };

// Makes a camera's picture small as it arrives: the thumbnail's bytes, empty when the picture
// cannot be read. A site of many cameras then never holds all their full pictures at once.
using PictureShrinker = std::function<std::string(const std::string& jpeg)>;
// Without a shrinker, a picture larger than this is left out of the report.
inline constexpr std::size_t kMaxUnshrunkPicture = 1024 * 1024;

// The resource name of a row's picture when pictures are resources.
std::string snapshotResourceName(std::size_t row);
// The report's HTML in the program's language.
std::string buildReportHtml(const SiteReportData& data, PictureRefs pictures);
// The journal's records of the day `date` ("YYYY-MM-DD").
std::vector<ChangeRecord> changesOfDay(const std::vector<ChangeRecord>& all,
                                       const std::string& date);

// Camera-table indexes of the list's rows in list order (-1 for a row without a number).
std::vector<int> listRecordIndexes(SetupCore& core);

// The report's data from the core's adapters, counters and list (rows in list order;
// `records` are their camera-table indexes), the doctor's findings and today's journal. With
// `snapshots` a live picture of every camera the doctor did not find unreachable, each passed
// through `shrink` as soon as it is received; `stop` is asked before each picture.
// Other makers' ONVIF cameras (`onvif`) follow as rows of their own, with the doctor's findings
// on them. `progress` hears (pictures fetched, pictures to fetch) as each picture is asked for.
SiteReportData collectSiteReport(SetupCore& core, const DoctorResult& doctor,
                                 const std::vector<int>& records, bool snapshots,
                                 const std::function<bool()>& stop = {},
                                 const PictureShrinker& shrink = {},
                                 const std::function<void(int, int)>& progress = {},
                                 const std::vector<OnvifDevice>& onvif = {});

}  // namespace lanrove
