#include "cli/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace lanrove::cli {

namespace {

std::size_t terminalWidth() {
    winsize ws{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

// Cuts UTF-8 text to `columns` characters (one column each; the texts here are ASCII apart
// from interface names) without splitting a character.
std::string cut(const std::string& text, std::size_t columns) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (chars == columns) return text.substr(0, i);
        ++chars;
    }
    return text;
}

}  // namespace

TerminalProgress::TerminalProgress(bool quiet)
    : m_out(stderr),
      m_enabled(!quiet && ::isatty(STDERR_FILENO) != 0),
      m_width(m_enabled ? terminalWidth() : 80) {}

TerminalProgress::TerminalProgress(std::FILE* out, bool enabled, std::size_t width)
    : m_out(out), m_enabled(enabled), m_width(width) {}

TerminalProgress::~TerminalProgress() {
    clear();
}

void TerminalProgress::show(const std::string& text) {
    if (!m_enabled) return;
    // One column stays free: a full line would wrap on some terminals.
    const std::string line = cut(text, m_width > 1 ? m_width - 1 : 1);
    if (line == m_shown) return;
    std::fprintf(m_out, "\r%s\033[K", line.c_str());
    std::fflush(m_out);
    m_shown = line;
}

void TerminalProgress::clear() {
    if (!m_enabled || m_shown.empty()) return;
    std::fprintf(m_out, "\r\033[K");
    std::fflush(m_out);
    m_shown.clear();
}

std::string searchProgressText(const std::string& adapter, int adapterNo, int adapterCount,
                               int cameras, long secondsLeft) {
    std::string text = "search: " + adapter + " (adapter " + std::to_string(adapterNo) + " of " +
                       std::to_string(adapterCount) + "), " + std::to_string(cameras) +
                       (cameras == 1 ? " camera" : " cameras") + " so far";
    if (secondsLeft >= 0) text += ", " + std::to_string(secondsLeft) + " s left";
    return text;
}

std::string probeProgressText(const std::string& command, int cameras, long secondsSoFar) {
    return command + ": finding free addresses for " + std::to_string(cameras) +
           (cameras == 1 ? " camera, " : " cameras, ") + std::to_string(secondsSoFar) + " s so far";
}

std::string settingProgressText(const std::string& command, int done, int total,
                                const std::string& address, long secondsLeft) {
    std::string text = command + ": " + std::to_string(done) + " of " + std::to_string(total) +
                       (total == 1 ? " camera" : " cameras");
    if (!address.empty()) text += ", " + address;
    if (secondsLeft >= 0) text += ", " + std::to_string(secondsLeft) + " s left";
    return text;
}

}  // namespace lanrove::cli
