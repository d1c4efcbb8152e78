#pragma once
// A status line on standard error while a long run goes on (search, automatic setting,
// firmware update), redrawn in place. Only on a terminal: pipes, files and scripts get nothing
// extra.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace lanrove::cli {

class TerminalProgress {
  public:
    // Enabled when standard error is a terminal and `quiet` is not set.
    explicit TerminalProgress(bool quiet = false);
    // For tests: writes to `out` when `enabled`, at `width` columns.
    TerminalProgress(std::FILE* out, bool enabled, std::size_t width);
    // Clears the line, so that what follows starts on a clean line.
    ~TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    bool enabled() const { return m_enabled; }
    // Replaces the line with `text` (cut to the terminal's width); a repeat of the same text
    // writes nothing.
    void show(const std::string& text);
    void clear();

  private:
    std::FILE* m_out;
    bool m_enabled;
    std::size_t m_width;
    std::string m_shown;
};

// "search: eth0, eth1 (2 adapters), 5 cameras so far, 27 s left": the adapters searched at
// once and the time left of the whole search.
std::string searchProgressText(const std::string& adapters, int adapterCount, int cameras,
                               long secondsLeft);

// "auto-set: finding free addresses for 12 cameras, 4 s so far" while the free-address probe
// runs (its length depends on which hosts answer, so only the time spent is told).
std::string probeProgressText(const std::string& command, int cameras, long secondsSoFar);
// "auto-set: 3 of 12 cameras, 192.168.0.23, 6 s left": cameras done, the latest address (left
// out when empty) and the seconds left (left out when negative).
std::string settingProgressText(const std::string& command, int done, int total,
                                const std::string& address, long secondsLeft);

}  // namespace lanrove::cli

namespace lanrove::cli {

// One camera of a firmware update in work, for the status line.
struct FirmwareStepProgress {
    std::string no;  // the camera's number in the list
    // "waiting", "preparing", "uploading", "writing", "restarting", ...; the bytes sent are
    // shown while "uploading".
    std::string step;
    std::uint32_t sentBytes = 0;
    std::uint32_t totalBytes = 0;
    long seconds = -1;  // how long the camera has been in this step; -1 when not known
};

// "update: 1 of 3 cameras done, No.2 uploading 45% (1.2 of 2.6 MiB), No.3 restarting 12 s",
// or with `secondsLeft` >= 0 (the wait for the restarts of failed cameras):
// "update: 3 of 3 cameras done, waiting for restarts, 45 s left".
std::string firmwareUpdateProgressText(int done, int total,
                                       const std::vector<FirmwareStepProgress>& cameras,
                                       long secondsLeft);

}  // namespace lanrove::cli
