#pragma once
// What the search worker (and later the other runs) tell the main window. Calls come from
// worker threads; the desktop program turns each into a queued call on its GUI thread, the
// command-line tool into an entry of its own event queue. Workers never touch the list.

#include <string>

namespace lanrove {

// Control identifiers of the main window that workers enable and disable.
enum ControlId : int {
    kIdSearch = 1000,
    kIdAutoSetting = 1001,
    kIdManualSetting = 1002,
    kIdFirmUpdate = 1003,
    kIdWebBrowser = 1004,
    kIdCameraList = 1005,
    kIdFirmCheck = 1006,
    kIdFactoryDefault = 1007,
    kIdCameraImage = 1060,
};

class SearchEvents {
  public:
    virtual ~SearchEvents() = default;
    // No camera was found on any adapter: the main window shows the search error box.
    virtual void searchNotFound() = 0;
    virtual void setControlEnabled(int controlId, bool enabled) = 0;
    // Close of the main window allowed again (true) or refused (false).
    virtual void setCloseEnabled(bool enabled) = 0;
    // The record at `recordIndex` of the camera table is complete: add its list row.
    virtual void addRow(int recordIndex) = 0;
    // The camera listed from record `rowRecord` was also heard on an earlier adapter: its row
    // now shows record `fromRecord` (same MAC), as a search of one adapter after the other
    // would have listed it.
    virtual void replaceRow(int rowRecord, int fromRecord) {
        (void)rowRecord;
        (void)fromRecord;
    }
    // Run the overlap marking and classification over the first `rowCount` rows.
    virtual void markRows(int rowCount) = 0;
    // An adapter's pass could not open the reply port: nothing was sent on it. `text` says
    // why, in words for the user.
    virtual void searchPortError(const std::string& text) { (void)text; }
};

}  // namespace lanrove
