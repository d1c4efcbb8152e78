#include "datagram_side.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "discovery/datagram_codec.h"
#include "source_send.h"

namespace lanrove::camsim {

namespace {
constexpr int kSocketBuffer = 8 * 1024 * 1024;

void setBuffer(int fd, int forceOption, int option) {
    if (setsockopt(fd, SOL_SOCKET, forceOption, &kSocketBuffer, sizeof kSocketBuffer) != 0)
        setsockopt(fd, SOL_SOCKET, option, &kSocketBuffer, sizeof kSocketBuffer);
}
}  // namespace

DatagramSide::DatagramSide(Fleet& fleet, SimLog& log, const Clock& clock,
                           DatagramSideOptions options)
    : m_fleet(fleet),
      m_log(log),
      m_clock(clock),
      m_options(std::move(options)),
      m_responder(fleet, WireCodec(m_options.codePage),
                  [this](const std::string& l) { m_log.line(l); }) {}

DatagramSide::~DatagramSide() {
    stop();
}

bool DatagramSide::start(std::string& error) {
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const int one = 1;
    setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    setBuffer(m_fd, SO_RCVBUFFORCE, SO_RCVBUF);
    setBuffer(m_fd, SO_SNDBUFFORCE, SO_SNDBUF);
    if (!m_options.interface.empty() &&
        setsockopt(m_fd, SOL_SOCKET, SO_BINDTODEVICE, m_options.interface.c_str(),
                   static_cast<socklen_t>(m_options.interface.size() + 1)) != 0) {
        error = "bind to " + m_options.interface + ": " + std::strerror(errno);
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(dgram::kCameraPort);
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        error = std::string("bind port 10001: ") + std::strerror(errno);
        return false;
    }
    m_bStop = false;
    m_receiver = std::thread([this] { receiveLoop(); });
    m_sender = std::thread([this] { sendLoop(); });
    return true;
}

void DatagramSide::stop() {
    m_bStop = true;
    m_queueCv.notify_all();
    if (m_receiver.joinable()) m_receiver.join();
    if (m_sender.joinable()) m_sender.join();
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

void DatagramSide::receiveLoop() {
    std::vector<std::uint8_t> buffer(2048);
    std::vector<Outgoing> out;
    std::vector<std::size_t> changed;
    while (!m_bStop) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0) continue;
        const ssize_t n = ::recv(m_fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n <= 0) continue;
        out.clear();
        changed.clear();
        m_responder.handle(buffer.data(), static_cast<std::size_t>(n), out, changed);
        // Addresses follow before the reply goes out, so the PC can reach the camera at once.
        for (std::size_t i : changed)
            if (m_fleet.onNetworkChanged) m_fleet.onNetworkChanged(i);
        if (out.empty()) continue;

        std::size_t cameras = 0;
        {
            std::lock_guard lock(m_fleet.mutex);
            cameras = m_fleet.cameras.size();
        }
        const long spreadMs = m_options.replySpreadMs >= 0
                                  ? m_options.replySpreadMs
                                  : static_cast<long>(std::min<std::size_t>(1000, cameras * 2));
        const auto spread = m_clock.scaled(Millis(spreadMs));
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard lock(m_queueMutex);
        std::size_t lastCamera = static_cast<std::size_t>(-1);
        std::chrono::steady_clock::time_point due = now;
        for (auto& o : out) {
            if (o.paced && o.camera != lastCamera) {
                // One delay per camera: its junk, its reply and its repeat go out in order.
                std::uniform_int_distribution<long> pick(0,
                                                         static_cast<long>(spread.count()) * 1000);
                due = now + std::chrono::microseconds(pick(m_random));
                lastCamera = o.camera;
            } else if (!o.paced) {
                due = now + m_clock.scaled(Millis(o.delayMs));
            }
            m_queue.push({due, m_order++, std::move(o)});
        }
        m_queueCv.notify_all();
    }
}

void DatagramSide::sendLoop() {
    std::unique_lock lock(m_queueMutex);
    while (!m_bStop) {
        if (m_queue.empty()) {
            m_queueCv.wait_for(lock, std::chrono::milliseconds(200));
            continue;
        }
        const auto due = m_queue.top().due;
        if (std::chrono::steady_clock::now() < due) {
            m_queueCv.wait_until(lock, due);
            continue;
        }
        Outgoing o = m_queue.top().datagram;
        m_queue.pop();
        lock.unlock();
        sendNow(o);
        lock.lock();
    }
}

void DatagramSide::sendNow(const Outgoing& o) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(dgram::kPcPort);
    to.sin_addr.s_addr = htonl(0xFFFFFFFFu);
    // Each camera answers from its own address.
    const int err = sendFromSource(m_fd, o.bytes.data(), o.bytes.size(),
                                   reinterpret_cast<const sockaddr*>(&to), sizeof to, o.source);
    if (err == 0) {
        // Tests wait for this line to act in the moment a held-back reply reaches the PC.
        if (o.delayMs > 0)
            m_log.line("ipset-reply " + dgram::macTextUpper(o.bytes.data() + dgram::kOffMac) +
                       " sent after " + std::to_string(o.delayMs) + " ms");
        return;
    }
    m_log.line(std::string("send failed: ") + std::strerror(err));
}

}  // namespace lanrove::camsim
