#pragma once
// One facility for every wait and time-out of the program. Protocol durations (search cadence,
// receive time-outs, HTTP time-outs, firmware waits) are given in their real values and scaled
// here, so that tests and the demo can run them faster without touching any constant.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace lanrove {

using Millis = std::chrono::milliseconds;

class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::chrono::steady_clock::time_point now() const = 0;
    // Real duration to wait for a protocol duration of `d`.
    virtual Millis scaled(Millis d) const = 0;
    // Milliseconds variant for APIs that take integers (libcurl, socket time-outs).
    long scaledMs(long ms) const { return static_cast<long>(scaled(Millis(ms)).count()); }
    // Sleeps for the scaled protocol duration.
    virtual void sleepFor(Millis d) const;
};

// steady_clock with the scale factor of LANROVE_TIME_SCALE (default 1). A nonzero protocol
// wait never shrinks below one millisecond, so loops that poll keep yielding.
class ScaledClock final : public Clock {
  public:
    explicit ScaledClock(double scale = 1.0);
    static double scaleFromEnvironment();
    std::chrono::steady_clock::time_point now() const override;
    Millis scaled(Millis d) const override;
    double scale() const { return m_dScale; }

  private:
    double m_dScale;
};

// The clock of the running program: scale taken from the environment once.
const Clock& defaultClock();

// The warning a program gives at start (standard error and trace log) when the time scale of
// the environment is in force: it is the lab's setting, and cameras on a real site would be
// given far too little time. Empty at scale 1.
std::string timeScaleWarning(double scale);
std::string timeScaleWarning();  // for the scale of the environment

// Manual-reset event: the stop and ready events of the workers.
class ManualResetEvent {
  public:
    void set();
    void reset();
    bool isSet() const;
    // Waits up to the real duration `d` (already scaled by the caller when it is a protocol
    // duration). Returns true when the event is set.
    bool waitFor(Millis d) const;
    void wait() const;

  private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    bool m_bSet = false;
};

}  // namespace lanrove
