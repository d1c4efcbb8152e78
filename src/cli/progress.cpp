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

std::string searchProgressText(const std::string& adapters, int adapterCount, int cameras,
                               long secondsLeft) {
    std::string text = "search: " + adapters + " (" + std::to_string(adapterCount) +
                       (adapterCount == 1 ? " adapter), " : " adapters), ") +
                       std::to_string(cameras) + (cameras == 1 ? " camera" : " cameras") +
                       " so far";
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

namespace lanrove::cli {

namespace {

constexpr std::uint32_t kMiB = 1024 * 1024;

// "1.2 of 2.6 MiB", "300 of 900 KiB", "12 of 800 bytes": both in the unit of the total.
std::string sizesText(std::uint32_t sent, std::uint32_t total) {
    char buf[64];
    if (total >= kMiB)
        std::snprintf(buf, sizeof(buf), "%.1f of %.1f MiB", static_cast<double>(sent) / kMiB,
                      static_cast<double>(total) / kMiB);
    else if (total >= 1024)
        std::snprintf(buf, sizeof(buf), "%u of %u KiB", sent / 1024, total / 1024);
    else
        std::snprintf(buf, sizeof(buf), "%u of %u bytes", sent, total);
    return buf;
}

}  // namespace

std::string firmwareUpdateProgressText(int done, int total,
                                       const std::vector<FirmwareStepProgress>& cameras,
                                       long secondsLeft) {
    std::string text = "update: " + std::to_string(done) + " of " + std::to_string(total) +
                       (total == 1 ? " camera" : " cameras") + " done";
    for (const FirmwareStepProgress& c : cameras) {
        text += ", No." + c.no + " " + c.step;
        if (c.step == "uploading" && c.totalBytes > 0) {
            const std::uint32_t sent = c.sentBytes < c.totalBytes ? c.sentBytes : c.totalBytes;
            const auto percent =
                static_cast<unsigned>(static_cast<std::uint64_t>(sent) * 100 / c.totalBytes);
            text += " " + std::to_string(percent) + "% (" + sizesText(sent, c.totalBytes) + ")";
        }
        // A step of under a second needs no time.
        if (c.seconds > 0) text += " " + std::to_string(c.seconds) + " s";
    }
    if (secondsLeft >= 0)
        text += ", waiting for restarts, " + std::to_string(secondsLeft) + " s left";
    return text;
}

}  // namespace lanrove::cli
