#pragma once
// Texts of the camera's CGI programs: the key lookup in status replies, the parse of the codec
// and camera status into the camera record, the recording settings table and its write-back
// parameters, and the encoding of parameter values for a request line. No network here.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/camera_entry.h"
#include "support/text.h"

namespace lanrove {

// Value of `key` in a status reply: the first place where the key is followed by ":(" and,
// later, a line end (CR, LF or CR LF). The value runs up to that line end, less one closing
// parenthesis right before it. The key is matched literally and not only at a line start, so
// "MAIN Ver" also matches inside "NET MAIN Ver". Returns the raw 8-bit value, or nothing.
std::optional<std::string> FindValueBytes(std::string_view reply, std::string_view key);

// The same, converted to UTF-16 with the wire code page. Leaves `value` untouched when the
// key is not found.
bool FindValue(const WireCodec& codec, std::string_view reply, std::string_view key,
               std::u16string& value);

// Into a fixed record field: a value longer than the field is cut to fit.
template <std::size_t N>
bool FindValue(const WireCodec& codec, std::string_view reply, std::string_view key,
               char16_t (&field)[N]) {
    std::u16string value;
    if (!FindValue(codec, reply, key, value)) return false;
    setField(field, std::u16string_view(value));
    return true;
}

// Leading decimal integer of a value: an optional '-' then digits ("12ab" gives 12, "x" 0).
// Out-of-range numbers saturate to the int range instead of overflowing.
int LeadingInt(std::u16string_view text);
// As LeadingInt, but leading blanks and a '+' sign are also accepted.
int LeadingIntLenient(std::u16string_view text);

// codec_stream.cgi?status=1: fills nRtspRtp ("0" counts as 1, absent as 0) and wAspectRatio.
void ParseCodecStatus(const WireCodec& codec, std::string_view reply, CameraEntry& entry);

// cam_set.cgi?status=1: protocol version 1 fills szTitle; version 2 the component versions
// (with their fallback keys) and wRecStatus. Absent keys leave their field as it was.
void ParseCamSetStatus(const WireCodec& codec, std::string_view reply, CameraEntry& entry);

// The recording settings table of one camera: up to 50 keys (8-bit, at most 49 bytes) and
// their values (at most 49 characters).
inline constexpr std::size_t kRecordSettingCount = 50;
inline constexpr std::size_t kRecordTextWidth = 50;

struct RecordSetting {
    char szKey[kRecordTextWidth];
    char16_t szValue[kRecordTextWidth];
};

struct RecordSettings {
    std::array<RecordSetting, kRecordSettingCount> entries;
    RecordSettings() { clear(); }
    void clear();
    std::size_t count() const;  // entries with a key
};

// record.cgi?status=1: walks the lines (only lines followed by a line end count), takes the
// text before the first colon of each as a key and looks its value up. A reply without any
// colon fails and leaves the table as it was. Keys too long for the table are skipped (a cut
// key would name another setting); values are cut to fit.
bool ParseRecordSettings(const WireCodec& codec, std::string_view reply, RecordSettings& table);

// The "&key=value" run that restores `saved` over the camera's `current` settings: only the
// entries whose value changed when the current read succeeded, every saved entry otherwise.
// Keys and values are percent-encoded. Empty when there is nothing to send.
std::string BuildRecordWriteParams(const WireCodec& codec, const RecordSettings& saved,
                                   const RecordSettings& current, bool bCurrentRead);

// Percent-encodes every byte except letters, digits and "-._~", so that blanks, "&", "#",
// "%", "+" and non-ASCII bytes cannot break or change the request line.
std::string PercentEncode(std::string_view bytes);

// The authentication schemes ("Basic", "Digest", ...) that one WWW-Authenticate header value
// offers: a value may hold several challenges, each a scheme followed by parameters, and
// quoted parameter values may hold commas.
std::vector<std::string> ChallengeSchemes(std::string_view headerValue);

}  // namespace lanrove
