// GetSystemDateAndTime replies of other makers' cameras: the parser takes any bytes, keeps its
// bounds and only ever returns a time inside the range it accepts.
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "onvif/device_time.h"

using namespace lanrove::onvif;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const DeviceTime t = parseSystemDateAndTime(input);
    if (size > kMaxTimeReplyBytes) FUZZ_CHECK(t.status == TimeStatus::Oversized);
    if (t.status == TimeStatus::Ok) {
        FUZZ_CHECK(t.utcSeconds >= 0);
        FUZZ_CHECK(t.utcSeconds <= utcSecondsOf(9999, 12, 31, 23, 59, 60));
    } else {
        FUZZ_CHECK(t.utcSeconds == 0);
    }
    FUZZ_CHECK(t.detail.size() <= 128);
    return 0;
}
