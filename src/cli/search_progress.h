#pragma once
// The search's status line on a terminal: the adapters being searched (all at once), the cameras
// listed so far and the seconds left of the search. Shared by every command that searches.

#include <chrono>

#include "app/setup_core.h"
#include "cli/progress.h"

namespace lanrove::cli {

class SearchProgress {
  public:
    // Shows nothing when `quiet` or when standard error is not a terminal.
    SearchProgress(SetupCore& core, bool quiet);

    // Redraws the line from the search's state; call it between the drains of the loop.
    void update();
    // Clears the line (also done when the object goes).
    void clear() { m_line.clear(); }

  private:
    SetupCore& m_core;
    TerminalProgress m_line;
    Millis m_passLength;
    bool m_bPassesSeen = false;
    std::chrono::steady_clock::time_point m_passStart;
};

}  // namespace lanrove::cli
