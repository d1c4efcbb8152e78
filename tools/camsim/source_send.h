#pragma once
// One UDP datagram sent from a chosen source address (IP_PKTINFO), so that each simulated
// device answers from its own address over one shared socket.

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

namespace lanrove::camsim {

// Sends `size` bytes to `to` from `source` (host order; 0: any). When the source is not (or no
// longer) on the interface the datagram goes from any address; a full queue is retried with a
// short back-off. 0 when sent, else the errno value of the last attempt.
int sendFromSource(int fd, const void* data, std::size_t size, const sockaddr* to,
                   socklen_t toLength, std::uint32_t source);

}  // namespace lanrove::camsim
