#pragma once
// The cameras' side of the discovery datagrams, without sockets: search replies in the
// version 1 and version 2 layouts, IP-setting commands addressed by MAC (with the Base64
// credentials of version 2), their replies, and the per-camera test faults.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "discovery/datagram_codec.h"
#include "fleet.h"
#include "support/text.h"

namespace lanrove::camsim {

inline constexpr std::uint16_t kResultBadCredentials = 401;
inline constexpr std::uint16_t kResultBadSetting = 400;
inline constexpr std::uint16_t kUnknownCommand = 0x5031;

// One datagram the simulator is to send, from `source` (host order; 0 = any of its addresses).
struct Outgoing {
    std::vector<std::uint8_t> bytes;
    std::uint32_t source = 0;
    std::size_t camera = 0;  // index into the fleet
    bool paced = false;      // search replies are spread over a short random delay
    long delayMs = 0;        // protocol milliseconds an unpaced reply is held back
};

// Version 1: header and the three addresses; version 2: everything, texts cut so that the
// reply always fits in 512 bytes.
dgram::Datagram encodeSearchReply(const SimCamera& camera, const WireCodec& codec);
dgram::Datagram encodeSetReply(const SimCamera& camera, std::uint16_t result);

// The settings an IP-setting payload carries, read the way a camera of `version` reads it.
struct IpSettingCommand {
    dgram::MacBytes mac{};
    std::uint32_t ip = 0, mask = 0, gateway = 0;
    bool hasCredentials = false;  // version 2
    std::string credentials;      // decoded "user:password" (empty when the Base64 is bad)
    bool credentialsDecoded = false;
    std::uint8_t netOption = 0;
    bool ssl = false;
    int port = 0;
    std::string title;  // wire bytes
};
bool decodeIpSettingCommand(const std::uint8_t* datagram, std::size_t length, int version,
                            IpSettingCommand& out);

class DatagramResponder {
  public:
    using Logger = std::function<void(const std::string&)>;
    DatagramResponder(Fleet& fleet, WireCodec codec, Logger logger = {});

    // Handles one received datagram: fills `out` with what to send and `changed` with the
    // cameras whose network settings changed (the caller announces them before sending).
    void handle(const std::uint8_t* data, std::size_t length, std::vector<Outgoing>& out,
                std::vector<std::size_t>& changed);

    // Acknowledgements received per camera MAC ("AA:BB:..").
    std::map<std::string, int> acknowledgements() const;

  private:
    void onSearch(const std::uint8_t* data, std::vector<Outgoing>& out);
    void onIpSetting(const std::uint8_t* data, std::size_t length, std::vector<Outgoing>& out,
                     std::vector<std::size_t>& changed);
    void log(const std::string& line) const {
        if (m_logger) m_logger(line);
    }

    Fleet& m_fleet;
    const WireCodec m_codec;
    Logger m_logger;
    mutable std::mutex m_ackMutex;
    std::map<std::string, int> m_acks;
};

}  // namespace lanrove::camsim
