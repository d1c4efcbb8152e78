#pragma once
// The firmware file reader: pointed at a folder, it lists the files that match a wildcard
// pattern, selects one and reads it whole. Every step checks the state first, so a call made in
// the wrong order fails with a code and touches no file. Each worker has its own instance; a
// lock shared between instances keeps their directory listings and reads from overlapping.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lanrove {

class TraceLog;

// Wildcard match of one file name with the file-name rules of the firmware folders: "*" any
// run of characters, "?" one character, and a run of "?" just before a "." also matches fewer
// characters (down to none). Letters compare without regard to case.
bool MatchFileName(std::string_view pattern, std::string_view name);

// One shared read-only copy of a firmware image: many uploads send it without copying it.
using FirmwareImage = std::shared_ptr<const std::vector<std::uint8_t>>;

class CSearchFileCtrl {
  public:
    static constexpr std::uint16_t kStateCreated = 1000;
    static constexpr std::uint16_t kStateFolderMissing = 1001;
    static constexpr std::uint16_t kStateFolderExists = 1002;
    static constexpr std::uint16_t kStateFileMissing = 1003;
    static constexpr std::uint16_t kStateFileSelected = 1004;

    // GetReadAllData results; a positive result is the system error of a failed open or read.
    static constexpr int kReadOk = 0;
    static constexpr int kReadNotSelected = -1;
    static constexpr int kReadVanished = -2;
    static constexpr int kReadEmpty = -3;
    static constexpr int kReadTooLarge = -4;  // over the reader's limit or the caller's buffer
    static constexpr int kReadShort = -5;     // the file ended before its recorded size
    static constexpr int kReadNoMemory = -6;  // the shared copy could not be allocated

    // Firmware images are tens of MiB; a file beyond this is not a firmware image and would
    // not fit the 32-bit byte counters of the upload.
    static constexpr std::uint64_t kDefaultReadLimit = std::uint64_t{1} << 30;

    explicit CSearchFileCtrl(TraceLog& log);
    ~CSearchFileCtrl();
    CSearchFileCtrl(const CSearchFileCtrl&) = delete;
    CSearchFileCtrl& operator=(const CSearchFileCtrl&) = delete;

    // The second lock, shared with the other instances; nullptr for none.
    void SetSharedLock(std::mutex* sharedLock);
    void SetReadLimit(std::uint64_t bytes);

    // A trailing file name is ignored: the path must end with a separator to name a folder.
    int SetFolder(const std::filesystem::path& path);
    // Only the path's file name counts; it is looked up in the folder, exactly first, then
    // without regard to case (the file is then used by its name as listed).
    int SelectFile(const std::filesystem::path& path);
    int StartSearch(std::string_view pattern);
    int NextFile();
    int CurrentFileName(std::string& name);

    // Reads the selected file whole into `buffer`, which must hold the file; `length` gets the
    // number of bytes read.
    int GetReadAllData(std::span<std::uint8_t> buffer, std::uint32_t& length);
    // Reads the selected file whole into a new shared copy; `image` stays empty on failure.
    int GetReadAllData(FirmwareImage& image, std::uint32_t& length);

    std::uint16_t State() const;
    std::uint64_t FileSize() const;
    std::int32_t MatchCount() const;
    std::filesystem::path Folder() const;
    std::filesystem::path SelectedPath() const;

  private:
    class BothLocks;
    int readLocked(std::span<std::uint8_t>* buffer, FirmwareImage* image, std::uint32_t& length);
    void selectEntry(std::size_t index);

    TraceLog& m_log;
    mutable std::mutex m_csOwn;
    std::mutex* m_pShared = nullptr;
    std::filesystem::path m_folder;
    std::string m_strFileName;
    std::string m_strPattern;
    std::uint16_t m_wState = kStateCreated;
    std::uint64_t m_qwFileSize = 0;
    std::uint32_t m_dwBytesToRead = 0;
    std::int32_t m_nMatchCount = 0;
    std::uint64_t m_qwReadLimit = kDefaultReadLimit;
    // The directory listing: the matching entries, taken once in a stable order.
    std::vector<std::string> m_listing;
    std::size_t m_nListPos = 0;
    bool m_bListing = false;
};

}  // namespace lanrove
