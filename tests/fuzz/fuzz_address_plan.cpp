// Address plans as installers write them (or as a damaged file reads): the reader accepts a
// plan only in the form its rules allow, or refuses it with a reason, and MAC notations
// normalise to one form that stays as it is.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "runs/address_plan.h"
#include "support/text.h"

using namespace lanrove;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    AddressPlan plan;
    PlanError error;
    if (readAddressPlan(bytes, plan, error)) {
        FUZZ_CHECK(plan.rows.size() <= kMaxPlanRows);
        std::set<std::string> macs;
        int lastLine = 0;
        for (const PlanRow& row : plan.rows) {
            FUZZ_CHECK(row.mac.size() == 17 && normaliseMac(row.mac) == row.mac);
            FUZZ_CHECK(macs.insert(row.mac).second);  // a MAC given twice refuses the plan
            FUZZ_CHECK(row.line > lastLine);
            lastLine = row.line;
            if (row.title) FUZZ_CHECK(fromUtf8(*row.title).size() <= kMaxPlanTitleChars);
            if (row.user) FUZZ_CHECK(row.password.has_value());
        }
    } else {
        FUZZ_CHECK(!error.message.empty());
        FUZZ_CHECK(error.line >= 0);
    }
    if (const auto mac = normaliseMac(bytes.substr(0, 64))) {
        FUZZ_CHECK(mac->size() == 17);
        FUZZ_CHECK(normaliseMac(*mac) == *mac);
    }
    return 0;
}
