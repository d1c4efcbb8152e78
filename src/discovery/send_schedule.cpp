#include "discovery/send_schedule.h"

#include <string>

namespace lanrove {

const char* scheduleName(SendSchedule schedule) {
    switch (schedule) {
        case SendSchedule::Search:
            return "Camera Search";
        case SendSchedule::Auto:
            return "Auto Set";
        case SendSchedule::Manual:
            return "Manual Set";
    }
    return "";
}

long schedulePeriodMs(SendSchedule schedule) {
    return schedule == SendSchedule::Search ? kSearchRequestPeriodMs : kSettingPeriodMs;
}

SendScheduler::SendScheduler(DatagramLink& link, CameraStore& store, TraceLog& log,
                             const Clock& clock)
    : m_link(link), m_store(store), m_flags(link.flags()), m_log(log), m_clock(clock) {}

SendScheduler::~SendScheduler() {
    stop();
}

void SendScheduler::start(SendSchedule schedule) {
    stop();
    std::lock_guard lock(m_mutex);
    m_kill.reset();
    m_flags.m_bySendCount = 0;
    m_bRunning = true;
    m_thread = std::thread([this, schedule] { run(schedule); });
}

void SendScheduler::stop() {
    std::lock_guard lock(m_mutex);
    m_kill.set();
    if (m_thread.joinable()) {
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();  // stopped from its own callback: it returns right after
        else
            m_thread.join();
    }
    m_bRunning = false;
}

void SendScheduler::run(SendSchedule schedule) {
    const Millis period = m_clock.scaled(Millis(schedulePeriodMs(schedule)));
    while (!m_kill.isSet()) {
        if (!tick(schedule)) {
            m_bRunning = false;
            if (DiscoveryEvents* events = m_pEvents.load()) events->scheduleEnded(schedule);
            return;
        }
        if (m_kill.waitFor(period)) break;
    }
    m_bRunning = false;
}

void SendScheduler::sendFailed(SendSchedule schedule, int result) {
    const std::string message = "Send ErrCode = " + std::to_string(result);
    m_log.event(message, "err", scheduleName(schedule));
}

void SendScheduler::sendIpSetting(SendSchedule schedule, const CameraEntry& record) {
    dgram::Payload payload;
    const std::size_t n = dgram::buildIpSettingPayload(record, m_link.codec(), payload);
    const int r = m_link.sendDatagram(dgram::kIpSetting, payload.data(), n, dgram::kArgIpSetting);
    if (r != 0) sendFailed(schedule, r);
}

bool SendScheduler::tick(SendSchedule schedule) {
    const auto count = static_cast<std::uint8_t>(m_flags.m_bySendCount.load() + 1);
    m_flags.m_bySendCount = count;
    if (count > kSendRounds) {
        m_flags.m_bStop = 1;
        return false;
    }
    switch (schedule) {
        case SendSchedule::Search: {
            const int r = m_link.sendDatagram(dgram::kSearchRequest, nullptr, 0, dgram::kArgSearch);
            if (r != 0) sendFailed(schedule, r);
            break;
        }
        case SendSchedule::Auto: {
            for (std::size_t i = 0; i < kCameraTableSize; ++i) {
                CameraEntry& record = m_store.m_SetTable[i];
                if (fieldEmpty(record.szNo)) break;
                setField(record.szUser, std::u16string_view(kDefaultCredential));
                setField(record.szPassword, std::u16string_view(kDefaultCredential));
                sendIpSetting(schedule, record);
            }
            break;
        }
        case SendSchedule::Manual: {
            const CameraEntry& record = m_store.m_SetTable[0];
            if (!fieldEmpty(record.szNo)) sendIpSetting(schedule, record);
            break;
        }
    }
    return true;
}

}  // namespace lanrove
