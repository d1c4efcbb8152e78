// The changes journal as a crash or another program may leave it: every line that reads back
// is a record with its time and kind, the rest is skipped.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "runs/change_journal.h"

using namespace lanrove;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t lines = 1;
    for (char c : text) lines += c == '\n' ? 1 : 0;
    const auto records = ChangeJournal::parse(text);
    FUZZ_CHECK(records.size() <= lines);
    for (const ChangeRecord& r : records) FUZZ_CHECK(!r.time.empty() && !r.kind.empty());
    return 0;
}
