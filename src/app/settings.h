#pragma once
// The settings file: an INI file beside the program named after the executable, read only.
// Its section "Firmupload" holds the few numbers of the firmware update.

#include <filesystem>
#include <string>
#include <string_view>

namespace lanrove {

class ProfileFile;

struct FirmuploadSettings {
    static constexpr int kDefaultInstance = 10;
    static constexpr int kMaxInstance = 10;
    static constexpr int kDefaultRetryCount = 3;
    static constexpr int kMaxRetryCount = 9;
    static constexpr int kDefaultUploadingTime = 30;
    static constexpr int kMaxUploadingTime = 65534;

    int nInstance = kDefaultInstance;            // cameras updated in parallel, 1 to 10
    bool bVersionCompare = true;                 // firmware version comparison on
    int nRetryCount = kDefaultRetryCount;        // upload attempts per camera, 1 to 9
    int nUploadingTime = kDefaultUploadingTime;  // upload judgement time, 1 to 65534
};

// Decimal text to integer as the C runtime's wide conversion does it: leading blanks and one
// sign are taken, conversion stops at the first non-digit, no digits give 0, and values beyond
// the int range saturate.
int decimalValue(std::u16string_view text);

// One settings value (128-unit buffer: at most 127 units survive); empty when the file, the
// section or the key is missing.
std::u16string readSetting(std::u16string_view section, std::u16string_view key,
                           const std::filesystem::path& settingsIni);

// Reads the "Firmupload" section once; missing, empty or out-of-range values give defaults.
FirmuploadSettings readFirmuploadSettings(const std::filesystem::path& settingsIni);
FirmuploadSettings readFirmuploadSettings(const ProfileFile& settings);

}  // namespace lanrove
