#include "runs/firmware_folder_files.h"

#include <system_error>

namespace lanrove {

namespace {

// Points a reader at the file: the folder with a trailing separator, then the name.
bool selectFile(CSearchFileCtrl& reader, const std::filesystem::path& path) {
    std::filesystem::path folder = path.parent_path();
    folder += std::filesystem::path::preferred_separator;
    reader.SetFolder(folder);
    reader.SelectFile(path);
    return reader.State() == CSearchFileCtrl::kStateFileSelected;
}

}  // namespace

FolderFirmwareFiles::FolderFirmwareFiles(std::filesystem::path programFolder, TraceLog& log)
    : m_folder(std::move(programFolder)), m_log(log) {}

FirmFileChoice FolderFirmwareFiles::findNewest(const CameraEntry& camera, int fromIndex) {
    FirmFileChoice c;
    std::uint16_t index = static_cast<std::uint16_t>(fromIndex < 0 ? 0 : fromIndex);
    const FirmwareSearchResult r = FindNewestFile(camera, index, m_folder, &m_csFirmFile, m_log);
    if (r.pRow != nullptr) c.row = *r.pRow;
    c.found = !r.atEnd();
    c.index = r.wIndex;
    c.path = r.path;
    c.highest = r.dwNumber;
    return c;
}

void FolderFirmwareFiles::ensureModelFolder(const FirmRow& row) {
    EnsureModelFolder(m_folder, row);
}

std::uint64_t FolderFirmwareFiles::fileSize(const std::filesystem::path& path) {
    CSearchFileCtrl reader(m_log);
    reader.SetSharedLock(&m_csFirmFile);
    if (!selectFile(reader, path)) return 0;
    return reader.FileSize();
}

FirmImage FolderFirmwareFiles::readAll(const std::filesystem::path& path, int& error) {
    // One reader at a time from the cache look-up to the stored copy: two workers that start
    // together must not both miss and read the image twice. Reads are serialised by the
    // firmware-file lock anyway.
    std::lock_guard loading(m_loadMutex);
    CSearchFileCtrl reader(m_log);
    reader.SetSharedLock(&m_csFirmFile);
    if (!selectFile(reader, path)) {
        error = CSearchFileCtrl::kReadNotSelected;
        return nullptr;
    }
    const std::filesystem::path listed = reader.SelectedPath();
    std::error_code ec;
    const std::filesystem::file_time_type written = std::filesystem::last_write_time(listed, ec);
    const std::uint64_t size = reader.FileSize();
    {
        std::lock_guard lock(m_cacheMutex);
        const auto it = m_cache.find(listed);
        if (it != m_cache.end() && !ec && it->second.size == size &&
            it->second.written == written) {
            if (FirmImage image = it->second.image.lock()) return image;
        }
    }
    FirmImage image;
    std::uint32_t length = 0;
    error = reader.GetReadAllData(image, length);
    if (error != CSearchFileCtrl::kReadOk || !image) return nullptr;
    if (!ec) {
        std::lock_guard lock(m_cacheMutex);
        m_cache[listed] = Cached{image, size, written};
    }
    return image;
}

}  // namespace lanrove
