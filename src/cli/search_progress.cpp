#include "cli/search_progress.h"

#include <algorithm>
#include <string>

#include "discovery/ipv4_address.h"
#include "discovery/send_schedule.h"

namespace lanrove::cli {

SearchProgress::SearchProgress(SetupCore& core, bool quiet)
    : m_core(core),
      m_line(quiet),
      m_passLength(
          core.clock().scaled(Millis(kSendRounds * kSearchRequestPeriodMs + kSearchPassPauseMs))),
      m_passStart(core.clock().now()) {}

void SearchProgress::update() {
    if (!m_line.enabled() || m_core.search() == nullptr) return;
    const CameraSearch& search = *m_core.search();
    const int passes = search.passCount();
    if (search.currentAdapter() < 0 || passes <= 0) return;
    const auto now = m_core.clock().now();
    if (!m_bPassesSeen) {
        m_bPassesSeen = true;
        m_passStart = now;
    }
    // The adapters are searched at once: one pass's time for the whole search.
    std::string names;
    int named = 0;
    for (const AdapterEntry& a : m_core.adapters()) {
        if (ipv4::fromTextOrZero(a.ip()) == 0 || named == passes) continue;
        names += (named++ == 0 ? "" : ", ") + std::string(a.ifName());
    }
    const auto inPass = std::chrono::duration_cast<Millis>(now - m_passStart);
    const long leftMs = std::max<long>(0, (m_passLength - inPass).count());
    m_line.show(searchProgressText(names, passes, m_core.list().rowCount(), (leftMs + 999) / 1000));
}

}  // namespace lanrove::cli
