#pragma once
// The built-in firmware catalogue: for each camera model and each firmware component, which
// file names belong to it, how the version number is read from the name, which camera version
// field it is compared with, and how long the upload and the restart may take. Firmware files
// lie in one folder per model inside the program folder.

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "discovery/camera_entry.h"

namespace lanrove {

class TraceLog;

struct FirmwareCatalogueRow {
    std::uint16_t wGeneration = 0;      // 1 or 2, matched with the camera's protocol version
    std::uint16_t wIndex = 0;           // component index within the model
    std::uint16_t wMethod = 0;          // 1 single-file camera, 2 multi-component camera
    std::uint32_t dwVersionCheck = 0;   // 1 compare with the camera before updating
    std::uint16_t wVersionFormat = 0;   // 1 main version numbers, 2 day numbers
    std::uint16_t wKind = 0;            // camera version field compared with (1 to 6)
    std::uint32_t dwUploadTimeOut = 0;  // ms, restart wait after an upload
    std::uint32_t dwRebootTime = 0;     // ms, pause once the camera announced its restart
    std::string modelKey;               // empty in generation-1 rows
    std::string modelFolder;
    std::string searchPattern;
    std::string numberFormat;  // the file name with "%lu" where the version number stands
};

inline constexpr std::size_t kFirmwareCatalogueRows = 152;

// Component kinds: the camera version field a component is compared with.
inline constexpr std::uint16_t kKindCamMain = 1;
inline constexpr std::uint16_t kKindCamSub = 2;
inline constexpr std::uint16_t kKindNetMain = 3;
inline constexpr std::uint16_t kKindNetSub = 4;
inline constexpr std::uint16_t kKindMecMain = 5;
inline constexpr std::uint16_t kKindIoMain = 6;

// All rows in their fixed order.
std::span<const FirmwareCatalogueRow> FirmwareCatalogue();

// The first row whose generation, component index and model key (exact, whole text) match.
const FirmwareCatalogueRow* FindCatalogueRow(std::uint16_t generation, std::uint16_t index,
                                             std::u16string_view model);
const FirmwareCatalogueRow* FindCatalogueRow(const CameraEntry& camera, std::uint16_t index);

// The model's folder inside the program folder, ending with a separator.
std::filesystem::path ModelFolderPath(const std::filesystem::path& programFolder,
                                      std::string_view name);

// Creates the row's model folder (with missing parents) when the row has a model key; an
// existing folder stays as it is. Returns false only when the folder could not be made.
bool EnsureModelFolder(const std::filesystem::path& programFolder, const FirmwareCatalogueRow& row);

// The version number a file name gives for a number format: the decimal pass reads the digits
// where "%lu" stands; the hexadecimal pass reads up to five hexadecimal digits after the part
// before "%". Names are compared in upper case. Nothing, when the name does not fit.
std::optional<std::uint32_t> ScanFileNumber(std::string_view numberFormat, std::string_view name);
std::optional<std::uint32_t> ScanFileNumberHex(std::string_view numberFormat,
                                               std::string_view name);

// The newest file of one row's folder and pattern.
struct FirmwareFolderScan {
    std::filesystem::path folder;  // the model folder, ending with a separator
    std::int32_t nMatches = 0;     // matching files
    std::string chosenName;        // as listed; empty when no name gave a number above 0
    std::uint32_t dwNumber = 0;    // the highest number, 0 when none
    bool bHexPass = false;         // the number came from the hexadecimal pass
};
FirmwareFolderScan ScanModelFolder(const std::filesystem::path& programFolder,
                                   const FirmwareCatalogueRow& row, std::mutex* sharedLock,
                                   TraceLog& log);

struct FirmwareSearchResult {
    // The row used; at the end of the components the last row looked up (nullptr when the
    // camera has no row at all).
    const FirmwareCatalogueRow* pRow = nullptr;
    std::uint16_t wIndex = 0;
    // Empty at the end of the components. When the component's files give no number, the
    // folder alone (no usable file: the reader finds no file there).
    std::filesystem::path path;
    std::uint32_t dwNumber = 0;

    bool atEnd() const { return path.empty(); }
    bool hasFile() const { return !path.empty() && dwNumber > 0; }
};

// The newest file of the first component at or after `index` that has any matching file;
// `index` is updated to that component.
FirmwareSearchResult FindNewestFile(const CameraEntry& camera, std::uint16_t& index,
                                    const std::filesystem::path& programFolder,
                                    std::mutex* sharedLock, TraceLog& log);

}  // namespace lanrove
