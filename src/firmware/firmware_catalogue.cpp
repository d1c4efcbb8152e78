#include "firmware/firmware_catalogue.h"

#include <system_error>
#include <vector>

#include "firmware/search_file_ctrl.h"
#include "support/text.h"

namespace lanrove {

namespace fs = std::filesystem;

namespace {

struct ComponentDef {
    std::uint16_t wKind;
    const char* pattern;  // after the family prefix
    const char* format;   // after the family prefix
    std::uint32_t dwUploadTimeOut;
    std::uint32_t dwRebootTime;
};

struct FamilyDef {
    const char* prefix;
    std::uint16_t wGeneration;
    std::uint16_t wMethod;
    std::uint32_t dwVersionCheck;
    std::uint16_t wVersionFormat;
    std::vector<const char*> models;
    std::span<const ComponentDef> components;
};

constexpr ComponentDef kSingleFile[] = {
    {kKindCamMain, "*.BIN", "%lu.BIN", 600000, 300000},
    {kKindCamSub, "*.HEX", "%lu.HEX", 300000, 140000},
};

constexpr ComponentDef kSixParts[] = {
    {kKindNetMain, "NET????????.BIN", "NET%lu.BIN", 600000, 180000},
    {kKindNetMain, "NETMAIN*.BIN", "NETMAIN%lu.BIN", 600000, 180000},
    {kKindNetSub, "NETSUB*.BIN", "NETSUB%lu.BIN", 180000, 140000},
    {kKindCamMain, "CAM????????.BIN", "CAM%lu.BIN", 900000, 180000},
    {kKindCamMain, "CAMMAIN*.BIN", "CAMMAIN%lu.BIN", 600000, 180000},
    {kKindCamSub, "CAMSUB*.BIN", "CAMSUB%lu.BIN", 180000, 140000},
};

constexpr ComponentDef kEightParts[] = {
    {kKindNetMain, "NET????????.BIN", "NET%lu.BIN", 1200000, 180000},
    {kKindNetMain, "NETMAIN*.BIN", "NETMAIN%lu.BIN", 600000, 180000},
    {kKindNetSub, "NETSUB*.BIN", "NETSUB%lu.BIN", 300000, 180000},
    {kKindCamMain, "CAM????????.BIN", "CAM%lu.BIN", 3600000, 180000},
    {kKindCamMain, "CAMMAIN*.BIN", "CAMMAIN%lu.BIN", 3000000, 180000},
    {kKindCamSub, "CAMSUB*.BIN", "CAMSUB%lu.BIN", 600000, 180000},
    {kKindMecMain, "MECHA*.BIN", "MECHA%lu.BIN", 3600000, 180000},
    {kKindIoMain, "IO*.BIN", "IO%lu.BIN", 600000, 180000},
};

std::vector<FirmwareCatalogueRow> buildCatalogue() {
    const FamilyDef families[] = {
        {"RA2", 1, 1, 0, 1, {"KT-7100", "KT-7190", "KT-7100P", "KT-7190PC"}, kSingleFile},
        {"RM2",
         2,
         1,
         1,
         1,
         {"KT-5200", "KT-5200P", "KT-5200PC", "KT-5300", "KT-5300P", "KT-5300PC"},
         kSingleFile},
        {"RN2",
         2,
         1,
         1,
         1,
         {"KT-6200", "KW-6200", "KW-6200P", "KW-6200PC", "KT-6300", "KW-6300", "KW-6300P",
          "KW-6300PC"},
         kSingleFile},
        {"RP2", 2, 2, 1, 2, {"KT-6500", "KW-6500", "KW-6500P", "KW-6500PC"}, kSixParts},
        {"RS2", 2, 2, 1, 2, {"KT-5500", "KT-5500P", "KT-5500PC"}, kSixParts},
        {"RT2", 2, 2, 1, 2, {"KT-7600", "KT-7600P", "KT-7600PC"}, kSixParts},
        {"RU2", 2, 2, 1, 2, {"KT-8400", "KT-8400P", "KT-8400PC", "KT-8400S"}, kEightParts},
        {"RW2", 2, 2, 1, 2, {"KT-8600", "KT-8600P", "KT-8600PC"}, kEightParts},
    };
    std::vector<FirmwareCatalogueRow> rows;
    rows.reserve(kFirmwareCatalogueRows);
    for (const FamilyDef& family : families) {
        std::uint16_t modelPos = 0;
        for (const char* model : family.models) {
            std::uint16_t part = 0;
            for (const ComponentDef& c : family.components) {
                FirmwareCatalogueRow row;
                row.wGeneration = family.wGeneration;
                // Generation-1 rows are numbered across all their models.
                row.wIndex =
                    family.wGeneration == 1
                        ? static_cast<std::uint16_t>(modelPos * family.components.size() + part)
                        : part;
                row.wMethod = family.wMethod;
                row.dwVersionCheck = family.dwVersionCheck;
                row.wVersionFormat = family.wVersionFormat;
                row.wKind = c.wKind;
                row.dwUploadTimeOut = c.dwUploadTimeOut;
                row.dwRebootTime = c.dwRebootTime;
                row.modelKey = family.wGeneration == 1 ? "" : model;
                row.modelFolder = model;
                row.searchPattern = std::string(family.prefix) + c.pattern;
                row.numberFormat = std::string(family.prefix) + c.format;
                if (row.modelFolder == "KT-6200" && row.wIndex == 1) row.dwRebootTime = 120000;
                rows.push_back(std::move(row));
                ++part;
            }
            ++modelPos;
        }
    }
    return rows;
}

std::string upperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::span<const FirmwareCatalogueRow> FirmwareCatalogue() {
    static const std::vector<FirmwareCatalogueRow> rows = buildCatalogue();
    return rows;
}

const FirmwareCatalogueRow* FindCatalogueRow(std::uint16_t generation, std::uint16_t index,
                                             std::u16string_view model) {
    const std::string key = toUtf8(model);
    for (const FirmwareCatalogueRow& row : FirmwareCatalogue())
        if (row.wGeneration == generation && row.wIndex == index && row.modelKey == key)
            return &row;
    return nullptr;
}

const FirmwareCatalogueRow* FindCatalogueRow(const CameraEntry& camera, std::uint16_t index) {
    return FindCatalogueRow(camera.wProtoVer, index, fieldView(camera.szModel));
}

fs::path ModelFolderPath(const fs::path& programFolder, std::string_view name) {
    return (programFolder / std::string(name)) / "";
}

bool EnsureModelFolder(const fs::path& programFolder, const FirmwareCatalogueRow& row) {
    if (row.modelKey.empty()) return true;
    const fs::path folder = ModelFolderPath(programFolder, row.modelKey);
    std::error_code ec;
    fs::create_directories(folder, ec);
    return fs::is_directory(folder, ec);
}

std::optional<std::uint32_t> ScanFileNumber(std::string_view numberFormat, std::string_view name) {
    const std::string form = upperAscii(numberFormat);
    const std::size_t conv = form.find("%LU");  // "%lu" in the upper-case form
    if (conv == std::string::npos) return std::nullopt;
    const std::string upper = upperAscii(name);
    if (upper.compare(0, conv, form, 0, conv) != 0 || upper.size() <= conv) return std::nullopt;
    // Plain digits only: a sign would turn "-1" into the highest number of all, and a number
    // beyond 32 bits does not fit the form.
    std::uint64_t value = 0;
    std::size_t i = conv;
    for (; i < upper.size() && upper[i] >= '0' && upper[i] <= '9'; ++i) {
        value = value * 10 + static_cast<std::uint64_t>(upper[i] - '0');
        if (value > UINT32_MAX) return std::nullopt;
    }
    if (i == conv) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

std::optional<std::uint32_t> ScanFileNumberHex(std::string_view numberFormat,
                                               std::string_view name) {
    const std::string form = upperAscii(numberFormat);
    const std::size_t cut = form.find('%');
    if (cut == std::string::npos) return std::nullopt;
    const std::string upper = upperAscii(name);
    if (upper.compare(0, cut, form, 0, cut) != 0) return std::nullopt;
    std::uint32_t value = 0;
    std::size_t n = 0;
    for (; n < 5 && cut + n < upper.size(); ++n) {
        const int d = hexDigit(upper[cut + n]);
        if (d < 0) break;
        value = value * 16 + static_cast<std::uint32_t>(d);
    }
    if (n == 0) return std::nullopt;
    return value;
}

FirmwareFolderScan ScanModelFolder(const fs::path& programFolder, const FirmwareCatalogueRow& row,
                                   std::mutex* sharedLock, TraceLog& log) {
    FirmwareFolderScan scan;
    scan.folder = ModelFolderPath(programFolder, row.modelFolder);
    CSearchFileCtrl searcher(log);
    searcher.SetSharedLock(sharedLock);
    searcher.SetFolder(scan.folder);
    if (searcher.StartSearch(row.searchPattern) != 0) return scan;
    scan.nMatches = searcher.MatchCount();
    if (scan.nMatches <= 0) return scan;

    std::vector<std::string> names;
    std::string name;
    if (searcher.CurrentFileName(name) == 0) names.push_back(name);
    while (searcher.NextFile() == 0)
        if (searcher.CurrentFileName(name) == 0) names.push_back(name);

    // Equal numbers keep the file listed first.
    for (const std::string& n : names) {
        const auto number = ScanFileNumber(row.numberFormat, n);
        if (number && *number > scan.dwNumber) {
            scan.dwNumber = *number;
            scan.chosenName = n;
        }
    }
    if (scan.dwNumber == 0) {
        for (const std::string& n : names) {
            const auto number = ScanFileNumberHex(row.numberFormat, n);
            if (number && *number > scan.dwNumber) {
                scan.dwNumber = *number;
                scan.chosenName = n;
                scan.bHexPass = true;
            }
        }
    }
    return scan;
}

FirmwareSearchResult FindNewestFile(const CameraEntry& camera, std::uint16_t& index,
                                    const fs::path& programFolder, std::mutex* sharedLock,
                                    TraceLog& log) {
    FirmwareSearchResult result;
    const FirmwareCatalogueRow* row = FindCatalogueRow(camera, index);
    while (row != nullptr) {
        result.pRow = row;
        const FirmwareFolderScan scan = ScanModelFolder(programFolder, *row, sharedLock, log);
        if (scan.nMatches > 0) {
            result.wIndex = index;
            result.dwNumber = scan.dwNumber;
            // No name gave a number: the folder alone, which names no file.
            result.path = scan.chosenName.empty() ? scan.folder : scan.folder / scan.chosenName;
            return result;
        }
        ++index;
        row = FindCatalogueRow(camera, index);
    }
    result.wIndex = index;
    return result;
}

}  // namespace lanrove
