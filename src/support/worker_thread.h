#pragma once
// A worker thread with a "handle" in the sense the stop procedure needs: whether one is set,
// whether the thread still runs, a bounded wait for its end, and the possibility for the thread
// to close its own handle when it finishes. A thread is never detached while its owner lives:
// closing the handle joins it, and since a thread cannot be killed safely, the stop procedure's
// last resort writes its terminate line and then waits for the thread to return.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "support/clock.h"
#include "support/trace_log.h"

namespace lanrove {

class WorkerThread {
  public:
    WorkerThread() = default;
    // Joins the thread (its owner should have stopped it first).
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs `body` on a new thread and sets the handle. An earlier thread of this object must
    // have ended or be ending (its handle closed); it is joined first. Throws std::system_error
    // when no thread can be created; no handle is set then.
    void start(std::function<void()> body);
    // The next `count` starts of any worker thread throw as on a system out of threads (tests
    // of the paths that must survive it).
    static void failNextStartsForTest(int count);

    bool hasHandle() const;
    // Handle set and the thread has not yet returned.
    bool running() const;
    // Waits up to the real duration `d` for the thread to return; true when it has.
    bool waitEnd(Millis d) const;
    // Called by the thread itself as its last step: the handle becomes "none" so that later
    // stop procedures find nothing to stop.
    void closeHandleFromInside();
    // Owner side: forgets the handle and joins the thread, also one that closed its own handle
    // and is still returning. Called on the thread itself it only detaches (the thread is
    // about to return).
    void closeHandle();

  private:
    struct State {
        mutable std::mutex mutex;
        mutable std::condition_variable cv;
        bool ended = false;
    };
    std::thread takeThread();
    static void reap(std::thread& thread);

    mutable std::mutex m_mutex;
    std::shared_ptr<State> m_state;
    std::thread m_thread;
    bool m_bHandle = false;
};

// The lines of one stop procedure; an empty text writes nothing.
struct ThreadStopLines {
    std::string stop;       // the first wait succeeded
    std::string retryStop;  // the second wait succeeded
    std::string terminate;  // the thread had to be given up
    std::string close;      // the handle was closed (whenever the state could be read)
};
// "LanroveSetupDlg Firmup Thread:<name> Stop." and its siblings.
ThreadStopLines mainWindowStopLines(std::string_view name);

inline constexpr Millis kThreadStopWait{300000};

// The thread stop procedure: when the handle is set and the thread still runs, signal it and
// wait up to `wait` (a protocol duration, scaled by `clock`); if it still runs, signal it again
// and wait once more; if it still runs, write the terminate line and wait for it without a
// limit (it uses objects of its owner, so it must not be left running). The handle is closed
// at the end; a thread that closed its own handle is joined too. Returns nonzero when the
// thread had ended or ended within the waits, 0 when there was no handle or the waits ran out.
int stopWorkerThread(WorkerThread& thread, const std::function<void()>& signal,
                     const ThreadStopLines& lines, TraceLog& log, const Clock& clock,
                     Millis wait = kThreadStopWait);
// The same with a stop event as the signal.
int stopWorkerThread(WorkerThread& thread, ManualResetEvent& stopEvent,
                     const ThreadStopLines& lines, TraceLog& log, const Clock& clock,
                     Millis wait = kThreadStopWait);

}  // namespace lanrove
