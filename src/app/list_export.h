#pragma once
// The camera list as a CSV file: the list's nine column headings and cell texts in display
// order, UTF-8 with a byte order mark (so spreadsheet programs pick the right encoding), CR LF
// line ends and RFC 4180 quoting. The desktop program's Save and `lanrove-cli search --csv`
// share it, so both give the same bytes for the same list.

#include <array>
#include <filesystem>
#include <string>

#include "discovery/camera_list_model.h"
#include "runs/onvif_discovery.h"

namespace lanrove {

class SetupCore;

using ListHeaders = std::array<std::u16string, kListColumnCount>;

// The column headings in the program's language, as the main window shows them.
ListHeaders listColumnHeaders(const SetupCore& core);

// One field, quoted when it holds a comma, quote or an outer space; control characters and
// bidirectional overrides replaced, and an apostrophe before a leading "=", "+", "-", "@",
// tab or CR, so that no spreadsheet program takes a camera's text for a formula.
std::string csvField(std::u16string_view text);
// The whole file's bytes.
std::string listCsv(const CameraListModel& list, const ListHeaders& headers);
std::string listCsv(const SetupCore& core);
// Other makers' ONVIF cameras as rows of the same columns, to follow the list's.
std::string onvifCsvRows(const std::vector<OnvifDevice>& devices);

// Writes `bytes` to `file` through a temporary file beside it, so that a failed write never
// leaves a half-written list in place of an older one. False (and `error` set) on failure.
bool saveFileReplacing(const std::filesystem::path& file, const std::string& bytes,
                       std::string& error);

}  // namespace lanrove
