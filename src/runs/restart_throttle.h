#pragma once
// How often, and for how long, the dispatcher sends the restart command to a camera whose
// update failed: one attempt at most every `every`, none after `total` since the failure. The
// dispatcher looks every few tens of milliseconds; without this it would send (and log) the
// command on every look for as long as the run lives.

#include <chrono>

#include "support/clock.h"

namespace lanrove {

// Protocol milliseconds (the clock scales them).
inline constexpr long kRestartAttemptEveryMs = 10000;
inline constexpr long kRestartAttemptsForMs = 180000;

class RestartThrottle {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    RestartThrottle() = default;
    RestartThrottle(Millis every, Millis total) : m_every(every), m_total(total) {}

    // Forgets an earlier camera.
    void reset() { m_bStarted = false; }
    // True when an attempt may be made at `now`; the first look starts the time.
    bool due(TimePoint now) {
        if (!m_bStarted) {
            m_bStarted = true;
            m_since = now;
            m_next = now;
            m_nAttempts = 0;
        }
        return !expired(now) && now >= m_next;
    }
    void attempted(TimePoint now) {
        ++m_nAttempts;
        m_next = now + m_every;
    }
    // The attempts are over: `total` has passed since the first look.
    bool expired(TimePoint now) const { return m_bStarted && now - m_since >= m_total; }
    int attempts() const { return m_nAttempts; }

  private:
    Millis m_every{kRestartAttemptEveryMs};
    Millis m_total{kRestartAttemptsForMs};
    bool m_bStarted = false;
    TimePoint m_since{};
    TimePoint m_next{};
    int m_nAttempts = 0;
};

}  // namespace lanrove
