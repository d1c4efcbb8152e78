#include "source_send.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace lanrove::camsim {

int sendFromSource(int fd, const void* data, std::size_t size, const sockaddr* to,
                   socklen_t toLength, std::uint32_t source) {
    iovec iov{const_cast<void*>(data), size};
    msghdr msg{};
    msg.msg_name = const_cast<sockaddr*>(to);
    msg.msg_namelen = toLength;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (source != 0) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst.s_addr = htonl(source);
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    int err = 0;
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (::sendmsg(fd, &msg, 0) >= 0) return 0;
        err = errno;
        if ((err == EINVAL || err == ENETUNREACH || err == EADDRNOTAVAIL) &&
            msg.msg_control != nullptr) {
            // The source address is gone (or never was on the interface, as a spoofing
            // device's): send from any.
            msg.msg_control = nullptr;
            msg.msg_controllen = 0;
            continue;
        }
        if (err != ENOBUFS && err != EAGAIN) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // queue full: back off
    }
    return err;
}

}  // namespace lanrove::camsim
