#include "discovery/datagram_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace lanrove {

namespace {

constexpr int kRecvSocketBuffer = 4 * 1024 * 1024;  // room for a burst of 1000 replies
constexpr int kSendAttempts = 3;

void bindToDevice(int fd, std::string_view ifName) {
    if (ifName.empty()) return;
    const std::string name(ifName);
    setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, name.c_str(),
               static_cast<socklen_t>(name.size() + 1));
}

sockaddr_in endpoint(std::uint32_t hostOrderAddress, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(hostOrderAddress);
    return a;
}

}  // namespace

// --------------------------------------------------------------------------------- transport

int UdpBroadcastTransport::send(const AdapterEntry& adapter, const dgram::Datagram& datagram) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        const int error = errno;
        m_log.trace(1, "SendProc WSASocket Error == %d", error);
        return error;
    }
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    // The limited broadcast leaves through the adapter even when binding its address fails.
    bindToDevice(fd, adapter.ifName());
    char ip[sizeof adapter.szIp + 1] = {};
    std::memcpy(ip, adapter.szIp, sizeof adapter.szIp);
    in_addr local{};
    if (inet_pton(AF_INET, ip, &local) == 1) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_port = htons(dgram::kPcPort);
        from.sin_addr = local;
        // Failure is not an error: the device binding above still picks the adapter.
        (void)::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from);
    }
    const sockaddr_in to = endpoint(0xFFFFFFFFu, dgram::kCameraPort);
    int result = 0;
    for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
        const ssize_t n = ::sendto(fd, datagram.data(), datagram.size(), 0,
                                   reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (n == static_cast<ssize_t>(datagram.size())) {
            result = 0;
            break;
        }
        result = n < 0 ? errno : EMSGSIZE;
    }
    ::close(fd);
    return result;
}

namespace {

// The UDP receive socket of one receive-thread run.
class UdpReceiver final : public DatagramReceiver {
  public:
    explicit UdpReceiver(TraceLog& log) : m_log(log) {}
    ~UdpReceiver() override {
        if (m_fd >= 0) ::close(m_fd);
    }
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;

    int open(const AdapterEntry& adapter, Millis timeout) override {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0) {
            const int error = errno;
            m_log.trace(1, "SendProc WSASocket Error == %d", error);
            return error;
        }
        const int one = 1;
        setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        const long timeoutMs = std::max<long>(1, static_cast<long>(timeout.count()));
        timeval tv{};
        tv.tv_sec = timeoutMs / 1000;
        tv.tv_usec = (timeoutMs % 1000) * 1000;
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        if (setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &kRecvSocketBuffer,
                       sizeof kRecvSocketBuffer) != 0)
            setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &kRecvSocketBuffer, sizeof kRecvSocketBuffer);
        // Cameras answer by broadcast, which a socket bound to a unicast address never sees:
        // bind the wildcard address and tie the socket to the adapter's interface instead.
        bindToDevice(m_fd, adapter.ifName());
        const sockaddr_in local = endpoint(0, dgram::kPcPort);
        if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            const int error = errno;
            m_log.trace(1, "RecvProc bind Error == %d", error);
            return error;
        }
        return 0;
    }

    long receive(std::uint8_t* buffer, std::size_t size) override {
        return static_cast<long>(::recv(m_fd, buffer, size, 0));
    }
    long receiveFrom(std::uint8_t* buffer, std::size_t size, std::uint32_t& source) override {
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n =
            ::recvfrom(m_fd, buffer, size, 0, reinterpret_cast<sockaddr*>(&from), &len);
        source = n >= 0 && len >= sizeof from && from.sin_family == AF_INET
                     ? ntohl(from.sin_addr.s_addr)
                     : 0;
        return static_cast<long>(n);
    }

  private:
    TraceLog& m_log;
    int m_fd = -1;
};

}  // namespace

std::unique_ptr<DatagramReceiver> DatagramTransport::makeReceiver(TraceLog& log) {
    return std::make_unique<UdpReceiver>(log);
}

// ---------------------------------------------------------------------------------- the link

DatagramLink::DatagramLink(CameraStore& store, DatagramTransport& transport, TraceLog& log,
                           const Clock& clock, WireCodec codec)
    : DatagramLink(store, store, -1, transport, log, clock, std::move(codec)) {}

DatagramLink::DatagramLink(CameraStore& store, PassFlags& flags, int pass,
                           DatagramTransport& transport, TraceLog& log, const Clock& clock,
                           WireCodec codec)
    : m_store(store),
      m_flags(flags),
      m_nPass(pass),
      m_transport(transport),
      m_log(log),
      m_clock(clock),
      m_codec(std::move(codec)) {
    m_adapter.clear();
}

DatagramLink::~DatagramLink() {
    stopRecvThread();
}

void DatagramLink::setAdapter(const AdapterEntry& adapter) {
    std::lock_guard lock(m_adapterMutex);
    m_adapter = adapter;
}

AdapterEntry DatagramLink::adapter() const {
    std::lock_guard lock(m_adapterMutex);
    return m_adapter;
}

int DatagramLink::sendDatagram(std::uint16_t code, const std::uint8_t* payload, std::size_t length,
                               std::uint16_t argument) {
    const AdapterEntry a = adapter();
    std::uint8_t requestNo = 0;
    if (code == dgram::kSearchRequest) {
        requestNo = m_flags.m_bySendCount.load();
        if (requestNo == 1 && m_flags.m_bClearOnFirstRequest.load()) m_flags.clearFoundMacs();
    }
    dgram::Datagram datagram;
    dgram::buildPcDatagram(datagram, code, a.mac, argument, payload, length, requestNo);
    return m_transport.send(a, datagram);
}

bool DatagramLink::RecvLock::tryLockFor(Millis d) {
    std::unique_lock lock(m_mutex);
    const auto free = [this] { return !m_bHeld; };
    if (d == Millis::max())
        m_cv.wait(lock, free);
    else if (!m_cv.wait_for(lock, d, free))
        return false;
    m_bHeld = true;
    return true;
}

void DatagramLink::RecvLock::unlock() {
    {
        std::lock_guard lock(m_mutex);
        m_bHeld = false;
    }
    m_cv.notify_all();
}

int DatagramLink::startRecvThread() {
    stopRecvThread();
    m_flags.clearFoundMacs();
    m_flags.m_bStop = 0;
    m_stopRecv.reset();
    m_recvReady.reset();
    m_nRecvOpenResult = 0;
    m_recvThread.start([this] { recvProc(); });
    // The first search request goes out right after this returns: its replies must find the
    // socket bound.
    if (!m_recvReady.waitFor(kRecvReadyWait)) {
        m_log.traceText(1, "RecvProc Start Timeout.");
        return ETIMEDOUT;
    }
    const int result = m_nRecvOpenResult.load();
    // A thread that could not open its socket returns at once; let it finish so that the
    // caller finds it ended.
    if (result != 0) m_recvThread.waitEnd(kRecvReadyWait);
    return result;
}

int DatagramLink::stopRecvThread() {
    // A thread told to stop by the stop flag lets go of the lock within one receive time-out;
    // one that still runs unstopped is stopped by the stop procedure instead of waited for.
    bool locked = false;
    if (!m_recvThread.running() || m_flags.m_bStop.load() != 0)
        locked = m_csRecv.tryLockFor(m_clock.scaled(Millis(kRecvTimeoutMs + 1000)));
    m_nRecvWait = 1000;
    const int result = stopWorkerThread(m_recvThread, m_stopRecv,
                                        mainWindowStopLines("m_hRecvThread"), m_log, m_clock);
    m_nRecvWait = 0;
    if (locked) m_csRecv.unlock();
    return result;
}

void DatagramLink::reportRecvReady(int result) {
    m_nRecvOpenResult = result;
    m_recvReady.set();
}

bool DatagramLink::waitRecvIdle(Millis d) {
    if (!m_csRecv.tryLockFor(d)) return false;
    m_csRecv.unlock();
    return true;
}

bool DatagramLink::handleDatagram(const std::uint8_t* data, std::size_t length,
                                  std::uint32_t source) {
    if (data == nullptr || length != dgram::kSize) return false;
    char mac[24];
    const std::uint8_t* m = data + dgram::kOffMac;
    std::snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4],
                  m[5]);
    const std::uint16_t code = dgram::commandOf(data);
    // Repeats are compared too: a second device answering for the MAC usually comes second.
    if (code == dgram::kSearchReply) {
        const std::string clash =
            m_store.noteReplyOrigin(mac, dgram::getAddress(data + dgram::kOffReplyIp), source);
        if (!clash.empty()) {
            m_log.trace(1, "Find MacAddress(%s) from two addresses: %s", mac, clash.c_str());
            m_log.event("A camera answered one search from two addresses (" + clash +
                            "); nothing is sent to it until a new search agrees",
                        "err", dgram::macTextUpper(m));
        }
    }
    switch (m_flags.noteFoundMac(mac)) {
        case PassFlags::Sighting::First:
            break;
        case PassFlags::Sighting::Repeat:
            m_log.trace(1, "Find == MacAddress Check = %s", mac);
            return false;
        case PassFlags::Sighting::NoRoom:
            // Only a flood gets here; one line per pass is enough to tell of it.
            m_log.trace(1, "Found MAC list full: replies of further MACs dropped (%s)", mac);
            return false;
        case PassFlags::Sighting::NoRoomAgain:
            return false;
    }
    DiscoveryEvents* events = m_pEvents.load();
    if (code == dgram::kSearchReply) {
        CameraEntry entry;
        dgram::decodeSearchReply(data, length, m_codec, entry);
        int index = 0;
        if (m_store.append(entry, &index, m_nPass)) {
            // The index comes from the append itself: a search that starts meanwhile resets
            // the write position under the table lock.
            if (events != nullptr) events->searchReplyStored(index);
            const int result = sendDatagram(dgram::kSearchAck, m, 6, dgram::kArgAck);
            if (events != nullptr) events->acknowledgementSent(m, result);
        } else {
            // Not acknowledged: the camera is not in the list, and a flood of forged replies
            // gets no flood of datagrams back.
            m_log.trace(1, "CamTable Full MacAddress(%s)", mac);
        }
    } else if (code == dgram::kIpSettingReply) {
        SetReplyEntry reply;
        dgram::decodeSetReply(data, length, reply);
        if (m_store.appendReply(reply) && events != nullptr) events->setReplyStored(reply);
    } else {
        m_log.trace(1, "Non Command(%d) MacAddress(%s)", static_cast<int>(code), mac);
    }
    return true;
}

void DatagramLink::recvProc() {
    int opened = 0;
    {
        std::unique_lock recvLock(m_csRecv);
        const AdapterEntry a = adapter();
        const std::unique_ptr<DatagramReceiver> receiver = m_transport.makeReceiver(m_log);
        // A zero time-out would block for good and the stop flag would never be looked at.
        opened = receiver ? receiver->open(
                                a, std::max(Millis(1), m_clock.scaled(Millis(kRecvTimeoutMs))))
                          : EINVAL;
        if (opened != 0) {
            reportRecvReady(opened);
        } else {
            std::vector<std::uint8_t> buffers(kRecvBuffers * kRecvBufferSize);
            m_log.traceText(1, "RecvProc Start.");
            reportRecvReady(0);
            std::size_t current = 0;
            while (m_flags.m_bStop.load() == 0) {
                if (m_stopRecv.waitFor(m_clock.scaled(Millis(m_nRecvWait.load())))) {
                    m_log.traceText(1, "RecvProc Stop!!!");
                    break;
                }
                std::uint8_t* buffer = buffers.data() + current * kRecvBufferSize;
                std::uint32_t source = 0;
                const long n = receiver->receiveFrom(buffer, kRecvBufferSize, source);
                if (n < 0) continue;  // time-out: look at the flags again
                // A search pass that has ended takes nothing more: its thread may outlive the
                // pass by a receive time-out while another run listens on the same port.
                if (m_nPass >= 0 && m_flags.m_bStop.load() != 0) break;
                if (handleDatagram(buffer, static_cast<std::size_t>(n), source))
                    current = (current + 1) % kRecvBuffers;
            }
            m_log.traceText(1, "RecvProc End.");
        }
    }
    // Last step of a run, after the socket is closed and the lock released (a thread that
    // could not open its socket leaves its handle to the next stop procedure). The owner joins
    // the thread before anything of the link goes.
    if (opened == 0) m_recvThread.closeHandleFromInside();
}

}  // namespace lanrove
