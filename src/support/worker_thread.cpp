#include "support/worker_thread.h"

#include <atomic>
#include <cerrno>
#include <system_error>

namespace lanrove {

WorkerThread::~WorkerThread() {
    closeHandle();
}

std::thread WorkerThread::takeThread() {
    std::lock_guard lock(m_mutex);
    return std::move(m_thread);
}

// Joined without holding m_mutex: the thread may still be in closeHandleFromInside.
void WorkerThread::reap(std::thread& thread) {
    if (!thread.joinable()) return;
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach();  // the thread itself: it returns right after
    else
        thread.join();
}

namespace {
std::atomic<int> g_failStarts{0};
}  // namespace

void WorkerThread::failNextStartsForTest(int count) {
    g_failStarts = count;
}

void WorkerThread::start(std::function<void()> body) {
    if (g_failStarts.load() > 0 && g_failStarts.fetch_sub(1) > 0)
        throw std::system_error(EAGAIN, std::generic_category(), "thread creation refused");
    // The earlier thread closed its handle as its last step, or was stopped; it is returning.
    std::thread earlier = takeThread();
    reap(earlier);
    std::lock_guard lock(m_mutex);
    auto state = std::make_shared<State>();
    // The handle is set only once the thread exists: a failed creation (which throws) must not
    // leave a handle that reads as a thread running for ever.
    m_thread = std::thread([state, fn = std::move(body)]() {
        fn();
        {
            std::lock_guard stateLock(state->mutex);
            state->ended = true;
        }
        state->cv.notify_all();
    });
    m_state = state;
    m_bHandle = true;
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
    std::thread thread;
    {
        std::lock_guard lock(m_mutex);
        m_bHandle = false;
        thread = std::move(m_thread);
    }
    reap(thread);
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
    return stopWorkerThread(
        thread, [&stopEvent] { stopEvent.set(); }, lines, log, clock, wait);
}

int stopWorkerThread(WorkerThread& thread, const std::function<void()>& signal,
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
        signal();
        if (thread.waitEnd(clock.scaled(wait))) {
            line(lines.stop);
        } else {
            signal();
            if (thread.waitEnd(clock.scaled(wait))) {
                line(lines.retryStop);
            } else {
                // The thread cannot be killed; leaving it running would let it touch objects
                // its owner is about to free, so the join below waits for it.
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
