#pragma once
// Prints the handover report to a PDF file: landscape A4, the site and date on top of every
// page and "n of m" below, one camera table that continues across pages with its header on
// each, rows never split, addresses never broken, findings at full width under their camera.
// Without a running Qt application one is made on the offscreen platform, so no display is
// needed; call from the main thread.

#include <string>

#include "app/site_report.h"

namespace lanrove {

// A report thumbnail of a camera's picture: at most 320 pixels wide, JPEG. Empty when the
// picture cannot be decoded (or is larger than Qt's image allocation limit).
std::string shrinkPicture(const std::string& jpeg);

// False with `error` set when the file could not be written.
bool writeReportPdf(const SiteReportData& data, const std::string& path, std::string& error);

}  // namespace lanrove
