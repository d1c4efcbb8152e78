// The search worker and the core that owns what it uses: destroying or shutting down the core
// while the worker is busy waits for the worker with the stop procedure, and nothing of the
// core is touched afterwards (the sanitizer builds would report it).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "search_fixture.h"

using namespace lanrove;
using lanrove::testing::makeAdapter;
using lanrove::testing::SearchFixture;
using lanrove::testing::simCamera;
using Clock_ = std::chrono::steady_clock;

namespace {

class SearchShutdownTest : public SearchFixture {
  public:
    ~SearchShutdownTest() override {
        net.flushEntered.set();
        net.flushReleased.set();
        if (releaser.joinable()) releaser.join();
    }

  protected:
    // Holds the worker in its last step, the ARP cache flush, until `hold` has passed.
    void holdFlushFor(Millis hold) {
        net.holdFlush = true;
        releaser = std::thread([this, hold] {
            net.flushEntered.wait();
            std::this_thread::sleep_for(hold);
            releasedAt = Clock_::now();
            net.flushReleased.set();
        });
    }
    std::thread releaser;
    Clock_::time_point releasedAt{};
};

// A camera's web server on a loopback address that takes the request and never answers;
// it notes when the client gives the connection up.
class SilentWebServer {
  public:
    SilentWebServer() {
        m_address = "127.83." + std::to_string(::getpid() % 250 + 1) + ".9";
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(80);  // version-1 cameras are asked on the default port
        inet_pton(AF_INET, m_address.c_str(), &a.sin_addr);
        m_bListening =
            ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(m_fd, 4) == 0;
        if (m_bListening) m_thread = std::thread([this] { serve(); });
    }
    ~SilentWebServer() {
        m_bQuit = true;
        if (m_thread.joinable()) m_thread.join();
        ::close(m_fd);
    }
    bool listening() const { return m_bListening; }
    const std::string& address() const { return m_address; }
    ManualResetEvent requestArrived;
    std::atomic<bool> clientClosed{false};

  private:
    void serve() {
        int conn = -1;
        const auto end = Clock_::now() + std::chrono::seconds(20);
        while (!m_bQuit && Clock_::now() < end) {
            pollfd p{conn < 0 ? m_fd : conn, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            if (conn < 0) {
                conn = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
                continue;
            }
            char buffer[2048];
            const ssize_t n = ::recv(conn, buffer, sizeof buffer, 0);
            if (n > 0) {
                requestArrived.set();
            } else {
                clientClosed = true;
                break;
            }
        }
        if (conn >= 0) ::close(conn);
    }
    std::string m_address;
    int m_fd = -1;
    bool m_bListening = false;
    std::atomic<bool> m_bQuit{false};
    std::thread m_thread;
};

}  // namespace

TEST_F(SearchShutdownTest, DestroyingTheCoreWaitsForTheWorkerInItsLastStep) {
    net.adapters = {makeAdapter("192.168.0.10")};
    addReply(simCamera(1, "192.168.0.20"));
    make(0.001);  // a 30 ms pass; the stop procedure's waits are 300 ms each
    holdFlushFor(Millis(150));
    core->startSearch(events);
    ASSERT_TRUE(net.flushEntered.waitFor(std::chrono::seconds(10)));
    core.reset();
    const auto destroyedAt = Clock_::now();
    EXPECT_NE(releasedAt, Clock_::time_point{});
    EXPECT_GE(destroyedAt, releasedAt);
    EXPECT_EQ(capture.count("LanroveSetupDlg Firmup Thread:m_pSearchThread Stop."), 1u);
    EXPECT_EQ(capture.count("LanroveSetupDlg Firmup Thread:m_pSearchThread Handle Close."), 1u);
}

TEST_F(SearchShutdownTest, WorkerThatOutlastsBothWaitsIsStillWaitedFor) {
    // The stop procedure's waits run out (terminate line), but the worker is not left running
    // over freed objects: the core waits until it returns.
    net.adapters = {makeAdapter("192.168.0.10")};
    make(0.0001);  // waits of 30 ms each
    holdFlushFor(Millis(300));
    core->startSearch(events);
    ASSERT_TRUE(net.flushEntered.waitFor(std::chrono::seconds(10)));
    core->shutdown(nullptr);
    const auto stoppedAt = Clock_::now();
    EXPECT_GE(stoppedAt, releasedAt);
    EXPECT_FALSE(core->searchRunning());
    EXPECT_EQ(capture.count("LanroveSetupDlg Firmup Thread:m_pSearchThread RetryStop."), 0u);
    EXPECT_EQ(capture.count("LanroveSetupDlg Firmup Thread:m_pSearchThread TerminateThread."), 1u);
    EXPECT_EQ(capture.count("LanroveSetupDlg Firmup Thread:m_pSearchThread Handle Close."), 1u);
    EXPECT_EQ(capture.count("-- Lanrove Set utility End("), 1u);
}

TEST_F(SearchShutdownTest, DestroyingTheCoreWaitsForAVersion1Completion) {
    SilentWebServer camera;
    if (!camera.listening()) GTEST_SKIP() << "cannot listen on " << camera.address() << ":80";
    net.adapters = {makeAdapter("127.0.0.1", "255.0.0.0")};
    addReply(simCamera(1, camera.address().c_str(), 1));
    make(0.1);  // the stream-settings request gives up after 1 s
    core->startSearch(events);
    ASSERT_TRUE(camera.requestArrived.waitFor(std::chrono::seconds(10)));
    core.reset();
    // The request had ended (its connection given up) before the core was gone.
    EXPECT_TRUE(camera.clientClosed.load());
    EXPECT_EQ(capture.count("LanroveSetupDlg Firmup Thread:m_pSearchThread Stop."), 1u);
}

TEST_F(SearchShutdownTest, ShutdownAfterAFinishedSearchWritesNoStopLines) {
    net.adapters = {makeAdapter("192.168.0.10")};
    addReply(simCamera(1, "192.168.0.20"));
    make(0.001);
    runToEnd();
    core->shutdown(nullptr);
    EXPECT_EQ(capture.count("Thread:m_pSearchThread"), 0u);
    EXPECT_EQ(capture.count("-- Lanrove Set utility End("), 1u);
}
