#include "cli/search_progress.h"

#include <algorithm>
#include <string>

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
    const int adapter = m_core.search()->currentAdapter();
    const auto& adapters = m_core.adapters();
    const auto now = m_core.clock().now();
    if (adapter != m_shownAdapter) {
        m_shownAdapter = adapter;
        m_passStart = now;
    }
    if (adapter < 0 || static_cast<std::size_t>(adapter) >= adapters.size()) return;
    // The pass under way counts from when it was first seen; later passes count whole.
    const auto inPass = std::chrono::duration_cast<Millis>(now - m_passStart);
    const auto passesAfter = static_cast<long>(adapters.size()) - adapter - 1;
    const long leftMs = std::max<long>(0, (m_passLength - inPass).count()) +
                        passesAfter * static_cast<long>(m_passLength.count());
    m_line.show(searchProgressText(
        std::string(adapters[static_cast<std::size_t>(adapter)].ifName()), adapter + 1,
        static_cast<int>(adapters.size()), m_core.list().rowCount(), (leftMs + 999) / 1000));
}

}  // namespace lanrove::cli
