#pragma once
// The three send schedules: search requests (three, 10 s apart), automatic settings (every
// settings record, three rounds 3 s apart) and the manual setting (settings record 0, three
// times 3 s apart). Each counts its ticks in the store's send counter; the fourth tick sets the
// stop flag and ends the schedule. The schedule runs on its own thread; every wait goes through
// the clock.

#include <atomic>
#include <mutex>
#include <thread>

#include "discovery/camera_store.h"
#include "discovery/datagram_link.h"
#include "discovery/discovery_events.h"
#include "support/clock.h"
#include "support/trace_log.h"

namespace lanrove {

inline constexpr long kSearchRequestPeriodMs = 10000;
inline constexpr long kSettingPeriodMs = 3000;
inline constexpr int kSendRounds = 3;
inline constexpr const char16_t* kDefaultCredential = u"vorly";

// Subject of the schedule's event lines: "Camera Search", "Auto Set", "Manual Set".
const char* scheduleName(SendSchedule schedule);
long schedulePeriodMs(SendSchedule schedule);

class SendScheduler {
  public:
    // Counts in the link's pass flags (the store's own for a link without pass).
    SendScheduler(DatagramLink& link, CameraStore& store, TraceLog& log, const Clock& clock);
    ~SendScheduler();
    SendScheduler(const SendScheduler&) = delete;
    SendScheduler& operator=(const SendScheduler&) = delete;

    void setEvents(DiscoveryEvents* events) { m_pEvents.store(events); }

    // Sets the send counter to 0 and runs `schedule`, first tick at once. A schedule that still
    // runs is stopped first.
    void start(SendSchedule schedule);
    // Kills the timer: no further tick. Returns after the schedule's thread has ended.
    void stop();
    bool running() const { return m_bRunning.load(); }

    // One tick of `schedule`; false when this tick ended it (stop flag set). Public for tests.
    bool tick(SendSchedule schedule);

  private:
    void run(SendSchedule schedule);
    void sendFailed(SendSchedule schedule, int result);
    void sendIpSetting(SendSchedule schedule, const CameraEntry& record);

    DatagramLink& m_link;
    CameraStore& m_store;
    PassFlags& m_flags;
    TraceLog& m_log;
    const Clock& m_clock;
    std::atomic<DiscoveryEvents*> m_pEvents{nullptr};

    std::mutex m_mutex;  // start/stop
    std::thread m_thread;
    ManualResetEvent m_kill;
    std::atomic<bool> m_bRunning{false};
};

}  // namespace lanrove
