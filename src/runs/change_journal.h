#pragma once
// The "changes made" journal: every setting, address plan, factory reset and firmware update
// that the program makes is appended as one JSON line to a file in the program folder, so that
// a handover report made at the end of the day covers the whole day, across program starts.
// The file is only ever appended to; a line that does not read back is skipped.

#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/camera_entry.h"

namespace lanrove {

struct ChangeRecord {
    std::string time;    // local time, "YYYY-MM-DD HH:MM:SS"
    std::string kind;    // "setting", "reset", "firmware"
    std::string mac;     // the camera's MAC text
    std::string before;  // what the camera had
    std::string after;   // what it was asked to have
    std::string result;  // "accepted", or what went wrong
};

class ChangeJournal {
  public:
    // Where the journal lives in a program folder.
    static std::filesystem::path fileIn(const std::filesystem::path& folder);
    // Points the process's journal at `file` (the program folder's at start-up).
    void open(std::filesystem::path file);
    // Appends one line (time filled in when empty); false when it could not be written.
    bool append(ChangeRecord record);
    std::filesystem::path file() const;

    // Every readable record of a journal file, oldest first. Nothing for a symbolic link, or
    // for a file over kMaxJournalBytes.
    static std::vector<ChangeRecord> read(const std::filesystem::path& file);
    // The records of a journal's text.
    static std::vector<ChangeRecord> parse(std::string_view text);
    static constexpr std::size_t kMaxJournalBytes = std::size_t{256} << 20;

  private:
    mutable std::mutex m_mutex;
    std::filesystem::path m_file;
};

// The process's journal (no file until open() is called: nothing is recorded).
ChangeJournal& changeJournal();

// A camera's network settings in one line, for before/after texts.
std::string networkSummary(const CameraEntry& entry);
// The component version texts of a firmware update in one format for every model:
// "CAM MAIN 1.00(20100101), NET MAIN 2.00(20100415)", dates kept. A component that either side
// read is named on both; a side that could not read it says "not read" (so does a camera whose
// components were never read). `afterRead` is false when the camera was not read after its
// last transfer: what the record still holds then is no evidence of the update.
struct FirmwareVersionTexts {
    std::string before;
    std::string after;
};
FirmwareVersionTexts firmwareVersionTexts(const CameraEntry& before, const CameraEntry& after,
                                          bool afterRead);
inline constexpr const char* kNotRead = "not read";
// The current local time in the journal's format.
std::string journalTimeNow();

// The hook points: one call each from the places that apply a change's result.
// A failure is told as `failure` (default "failed") with the result code.
void journalSetting(const CameraEntry& before, const CameraEntry& after, bool accepted,
                    unsigned result, std::string_view failure = {});
void journalReset(const CameraEntry& camera, bool accepted, long result);
void journalFirmware(const CameraEntry& camera, const std::string& fromVersion,
                     const std::string& toVersion, bool accepted, const std::string& detail);

}  // namespace lanrove
