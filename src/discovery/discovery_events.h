#pragma once
// What the datagram layer reports while it runs. Callbacks come from the receive thread and the
// send-schedule thread; implementations must not block for long and must not touch widgets
// directly (the GUI turns them into queued signals, the CLI collects them).

#include <cstdint>

#include "discovery/camera_entry.h"

namespace lanrove {

enum class SendSchedule { Search = 100, Auto = 110, Manual = 120 };

class DiscoveryEvents {
  public:
    virtual ~DiscoveryEvents() = default;
    // A search reply was accepted and appended to the camera table at `index`.
    virtual void searchReplyStored(int /*index*/) {}
    // An IP-setting reply was accepted and queued.
    virtual void setReplyStored(const SetReplyEntry& /*reply*/) {}
    // An acknowledgement was sent for a search reply (`result` is the send result).
    virtual void acknowledgementSent(const std::uint8_t* /*mac*/, int /*result*/) {}
    // A send schedule ended on its own (fourth tick: the stop flag is now set).
    virtual void scheduleEnded(SendSchedule /*schedule*/) {}
};

}  // namespace lanrove
