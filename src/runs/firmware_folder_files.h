#pragma once
// The firmware folders beside the program, as the firmware runs use them: the catalogue's
// newest-file search, the model folders, and the file reader. Every search and read takes the
// firmware-file lock as its second lock, so that the scans of the check thread and of the
// workers do not overlap. An image is read once and shared: while any upload still holds it,
// every further upload of the same unchanged file gets the same copy.

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "runs/firmware_ports.h"
#include "support/trace_log.h"

namespace lanrove {

class FolderFirmwareFiles final : public FirmwareFiles {
  public:
    FolderFirmwareFiles(std::filesystem::path programFolder, TraceLog& log);

    FirmFileChoice findNewest(const CameraEntry& camera, int fromIndex) override;
    void ensureModelFolder(const FirmRow& row) override;
    std::uint64_t fileSize(const std::filesystem::path& path) override;
    FirmImage readAll(const std::filesystem::path& path, int& error) override;

    std::mutex& firmFileLock() { return m_csFirmFile; }

  private:
    struct Cached {
        std::weak_ptr<const std::vector<std::uint8_t>> image;
        std::uint64_t size = 0;
        std::filesystem::file_time_type written{};
    };

    std::filesystem::path m_folder;
    TraceLog& m_log;
    std::mutex m_csFirmFile;  // the firmware-file lock shared by every search and read
    std::mutex m_loadMutex;
    std::mutex m_cacheMutex;
    std::map<std::filesystem::path, Cached> m_cache;
};

}  // namespace lanrove
