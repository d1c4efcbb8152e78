#include "support/worker_thread.h"

namespace lanrove {

WorkerThread::~WorkerThread() {
    std::lock_guard lock(m_mutex);
    reapLocked();
}

void WorkerThread::reapLocked() {
    if (!m_thread.joinable()) return;
    bool ended = false;
    if (m_state) {
        std::lock_guard stateLock(m_state->mutex);
        ended = m_state->ended;
    }
    if (ended || m_thread.get_id() == std::this_thread::get_id()) {
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();
        else
            m_thread.join();
    } else {
        m_thread.detach();
    }
}

void WorkerThread::start(std::function<void()> body) {
    std::lock_guard lock(m_mutex);
    if (m_thread.joinable()) {
        // The earlier thread closed its handle as its last step; it is returning now.
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();
        else
            m_thread.join();
    }
    auto state = std::make_shared<State>();
    m_state = state;
    m_bHandle = true;
    m_thread = std::thread([state, fn = std::move(body)]() {
        fn();
        {
            std::lock_guard stateLock(state->mutex);
            state->ended = true;
        }
        state->cv.notify_all();
    });
}

bool WorkerThread::hasHandle() const {
    std::lock_guard lock(m_mutex);
    return m_bHandle;
}

bool WorkerThread::running() const {
    std::shared_ptr<State> state;
    {
        std::lock_guard lock(m_mutex);
        if (!m_bHandle || !m_state) return false;
        state = m_state;
    }
    std::lock_guard stateLock(state->mutex);
    return !state->ended;
}

bool WorkerThread::waitEnd(Millis d) const {
    std::shared_ptr<State> state;
    {
        std::lock_guard lock(m_mutex);
        if (!m_state) return true;
        state = m_state;
    }
    std::unique_lock stateLock(state->mutex);
    return state->cv.wait_for(stateLock, d, [&] { return state->ended; });
}

void WorkerThread::closeHandleFromInside() {
    std::lock_guard lock(m_mutex);
    m_bHandle = false;
}

void WorkerThread::closeHandle() {
    std::lock_guard lock(m_mutex);
    m_bHandle = false;
    reapLocked();
}

ThreadStopLines mainWindowStopLines(std::string_view name) {
    const std::string thread = "Thread:" + std::string(name);
    return {"LanroveSetupDlg Firmup " + thread + " Stop.",
            "LanroveSetupDlg Firmup " + thread + " RetryStop.",
            "LanroveSetupDlg Firmup " + thread + " TerminateThread.",
            "LanroveSetupDlg Firmup " + thread + " Handle Close."};
}

int stopWorkerThread(WorkerThread& thread, ManualResetEvent& stopEvent,
                     const ThreadStopLines& lines, TraceLog& log, const Clock& clock, Millis wait) {
    const auto line = [&](const std::string& text) {
        if (!text.empty()) log.traceText(1, text);
    };
    if (!thread.hasHandle()) {
        thread.closeHandle();  // joins a thread that closed its own handle and is returning
        return 0;
    }
    int result = 1;
    if (thread.running()) {
        stopEvent.set();
        if (thread.waitEnd(clock.scaled(wait))) {
            line(lines.stop);
        } else {
            stopEvent.set();
            if (thread.waitEnd(clock.scaled(wait))) {
                line(lines.retryStop);
            } else {
                line(lines.terminate);
                result = 0;
            }
        }
    }
    line(lines.close);
    thread.closeHandle();
    return result;
}

}  // namespace lanrove
