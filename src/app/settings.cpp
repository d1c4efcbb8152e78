#include "app/settings.h"

#include <climits>

#include "app/profile_file.h"

namespace lanrove {

namespace {

constexpr std::u16string_view kSection = u"Firmupload";

int rangedValue(const ProfileFile& profile, std::u16string_view key, int min, int max, int def) {
    const std::u16string text = profile.getString(kSection, key, u"", ProfileFile::kSettingsBuffer);
    if (text.empty()) return def;
    const int value = decimalValue(text);
    return value >= min && value <= max ? value : def;
}

}  // namespace

int decimalValue(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    long long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        // Stop growing once past the int range; the sign decides where it saturates.
        if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (text[i] - u'0');
    }
    if (negative)
        return value > static_cast<long long>(INT_MAX) ? INT_MIN : static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

std::u16string readSetting(std::u16string_view section, std::u16string_view key,
                           const std::filesystem::path& settingsIni) {
    return readProfileString(section, key, u"", ProfileFile::kSettingsBuffer, settingsIni);
}

FirmuploadSettings readFirmuploadSettings(const std::filesystem::path& settingsIni) {
    return readFirmuploadSettings(ProfileFile::load(settingsIni));
}

FirmuploadSettings readFirmuploadSettings(const ProfileFile& settings) {
    using S = FirmuploadSettings;
    S s;
    s.nInstance = rangedValue(settings, u"Instance", 1, S::kMaxInstance, S::kDefaultInstance);
    s.bVersionCompare =
        settings.getString(kSection, u"VersionCompara", u"", ProfileFile::kSettingsBuffer) != u"0";
    s.nRetryCount =
        rangedValue(settings, u"RetryCount", 1, S::kMaxRetryCount, S::kDefaultRetryCount);
    s.nUploadingTime =
        rangedValue(settings, u"UploadingTime", 1, S::kMaxUploadingTime, S::kDefaultUploadingTime);
    return s;
}

}  // namespace lanrove
