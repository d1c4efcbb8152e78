#include "support/clock.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace lanrove {

void Clock::sleepFor(Millis d) const {
    std::this_thread::sleep_for(scaled(d));
}

ScaledClock::ScaledClock(double scale)
    : m_dScale(scale > 0.0 && std::isfinite(scale) ? scale : 1.0) {}

double ScaledClock::scaleFromEnvironment() {
    const char* text = std::getenv("LANROVE_TIME_SCALE");
    if (text == nullptr || *text == '\0') return 1.0;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || !std::isfinite(value) || value <= 0.0) return 1.0;
    return value;
}

std::chrono::steady_clock::time_point ScaledClock::now() const {
    return std::chrono::steady_clock::now();
}

Millis ScaledClock::scaled(Millis d) const {
    if (d.count() <= 0) return Millis(0);
    if (m_dScale == 1.0) return d;
    const double real = static_cast<double>(d.count()) * m_dScale;
    const auto ms = static_cast<Millis::rep>(std::llround(real));
    return Millis(ms < 1 ? 1 : ms);
}

std::string timeScaleWarning(double scale) {
    if (scale == 1.0) return {};
    char text[200];
    std::snprintf(text, sizeof text,
                  "warning: LANROVE_TIME_SCALE=%g is set: every wait and time-out runs at %g "
                  "times its length. It is a test setting; unset it for real cameras.",
                  scale, scale);
    return text;
}

std::string timeScaleWarning() {
    return timeScaleWarning(ScaledClock::scaleFromEnvironment());
}

const Clock& defaultClock() {
    static const ScaledClock clock(ScaledClock::scaleFromEnvironment());
    return clock;
}

void ManualResetEvent::set() {
    {
        std::lock_guard lock(m_mutex);
        m_bSet = true;
    }
    m_cv.notify_all();
}

void ManualResetEvent::reset() {
    std::lock_guard lock(m_mutex);
    m_bSet = false;
}

bool ManualResetEvent::isSet() const {
    std::lock_guard lock(m_mutex);
    return m_bSet;
}

bool ManualResetEvent::waitFor(Millis d) const {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, d, [this] { return m_bSet; });
}

void ManualResetEvent::wait() const {
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [this] { return m_bSet; });
}

}  // namespace lanrove
