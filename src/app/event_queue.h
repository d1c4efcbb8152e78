#pragma once
// A queue of calls that worker threads post and the owning thread runs: the command-line tool's
// stand-in for the posted window messages of the desktop program.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace lanrove {

class EventQueue {
  public:
    void post(std::function<void()> call) {
        {
            std::lock_guard lock(m_mutex);
            m_calls.push_back(std::move(call));
        }
        m_cv.notify_one();
    }

    // Runs every queued call; waits up to `d` for the first one. Returns the number run.
    int drain(std::chrono::milliseconds d) {
        std::deque<std::function<void()>> calls;
        {
            std::unique_lock lock(m_mutex);
            m_cv.wait_for(lock, d, [this] { return !m_calls.empty(); });
            calls.swap(m_calls);
        }
        for (auto& call : calls) call();
        return static_cast<int>(calls.size());
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_calls;
};

}  // namespace lanrove
