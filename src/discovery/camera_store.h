#pragma once
// The camera data that the main window owns and the workers share: the table of found cameras
// with its write/read positions, the settings table, the reply array, the run flags and the
// found-MAC set of one pass at a time (a search runs further passes with flags of their own). Locks
// follow the record's documented rules: csCamTable guards appends and whole-record copies during a
// search, csReplies the reply array.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "discovery/camera_entry.h"
#include "discovery/ipv4_address.h"
#include "support/text.h"

namespace lanrove {

// The run flags of one pass of datagrams (a receive thread with its send schedule) and the
// MACs it accepted. The store holds the one that settings runs and single-adapter tools use; a
// search gives each adapter's pass its own, so that passes can run side by side.
struct PassFlags {
    std::atomic<std::uint32_t> m_bStop{0};
    std::atomic<std::uint8_t> m_bySendCount{0};
    // Whether search request 1 empties the found MACs. A search's side-by-side passes set it
    // off: their receive threads emptied the lists just before, and on a shared segment a pass
    // has by then heard replies to another adapter's request, which it would take twice.
    std::atomic<bool> m_bClearOnFirstRequest{true};

    // The MACs ("aa:bb:cc:dd:ee:ff") of this pass's accepted replies. A hash set, and bounded:
    // a flood of forged replies costs neither a growing scan per datagram nor growing memory.
    std::unordered_set<std::string> m_foundMacs;
    mutable std::mutex m_csFoundMacs;  // the receive thread and the sender of request 1 touch it
    // Twice the tables: every camera the camera table and the reply array can hold, with room
    // for those that answer both.
    static constexpr std::size_t kFoundMacLimit = 2 * kCameraTableSize;
    bool m_bFoundMacsFullSeen = false;  // under csFoundMacs

    void clearFoundMacs() {
        std::lock_guard lock(m_csFoundMacs);
        m_foundMacs.clear();
        m_bFoundMacsFullSeen = false;
    }

    enum class Sighting {
        First,        // noted now: the datagram is handled
        Repeat,       // noted before in this pass
        NoRoom,       // a new MAC, but the list is full: dropped, and nothing is answered
        NoRoomAgain,  // the same, after the first one of this pass
    };
    Sighting noteFoundMac(std::string_view macLower) {
        std::lock_guard lock(m_csFoundMacs);
        std::string mac(macLower);
        if (m_foundMacs.count(mac) != 0) return Sighting::Repeat;
        if (m_foundMacs.size() >= kFoundMacLimit)
            return std::exchange(m_bFoundMacsFullSeen, true) ? Sighting::NoRoomAgain
                                                             : Sighting::NoRoom;
        m_foundMacs.insert(std::move(mac));
        return Sighting::First;
    }
    bool isFoundMac(std::string_view macLower) {
        std::lock_guard lock(m_csFoundMacs);
        return m_foundMacs.count(std::string(macLower)) != 0;
    }
    std::size_t foundMacCount() {
        std::lock_guard lock(m_csFoundMacs);
        return m_foundMacs.size();
    }
};

struct CameraStore : PassFlags {
    CameraTable m_CamTable;
    int m_nFindWrite = 0;
    int m_nFindRead = 0;
    std::mutex m_csCamTable;

    // Counters of classified cameras (see camera_status.h).
    std::int32_t m_nTotal = 0;
    std::int32_t m_nNew = 0;
    std::int32_t m_nOk = 0;
    std::int32_t m_nAttention = 0;

    // Per table index: the result that the overlap mark 999 replaced, given back when the clash
    // is gone (0 when none was saved).
    std::array<std::uint32_t, kCameraTableSize> m_dwResultBeforeOverlap{};

    CameraTable m_SetTable;
    SetReplyEntry m_SetReplies[kCameraTableSize]{};
    int m_nReplyWrite = 0;
    int m_nReplyRead = 0;
    std::mutex m_csReplies;

    std::atomic<std::uint32_t> m_bSearchEnd{1};
    // Per record: the pass whose receive thread appended it (-1: none named).
    std::array<int, kCameraTableSize> m_nAppendedBy{};

    // Appends under csCamTable; szNo becomes the 1-based position, and `index` (when given)
    // the 0-based one, read under the same lock. Returns false (and changes nothing) when the
    // table is full.
    bool append(const CameraEntry& entry, int* index = nullptr, int pass = -1) {
        std::lock_guard lock(m_csCamTable);
        if (m_nFindWrite >= static_cast<int>(kCameraTableSize)) return false;
        CameraEntry& slot = m_CamTable[static_cast<std::size_t>(m_nFindWrite)];
        slot = entry;
        m_nAppendedBy[static_cast<std::size_t>(m_nFindWrite)] = pass;
        setField(slot.szNo, std::string_view(std::to_string(m_nFindWrite + 1)));
        if (index != nullptr) *index = m_nFindWrite;
        ++m_nFindWrite;
        return true;
    }

    // Index of the first of records 0..n-1 whose szMac equals `mac` exactly, or -1; the scan
    // stops at the first record with an empty szMac.
    int findByMac(std::u16string_view mac, int n) const {
        const int limit =
            n < static_cast<int>(kCameraTableSize) ? n : static_cast<int>(kCameraTableSize);
        for (int i = 0; i < limit; ++i) {
            const CameraEntry& e = m_CamTable[static_cast<std::size_t>(i)];
            if (fieldEmpty(e.szMac)) break;
            if (fieldView(e.szMac) == mac) return i;
        }
        return -1;
    }

    bool tableFull() {
        std::lock_guard lock(m_csCamTable);
        return m_nFindWrite >= static_cast<int>(kCameraTableSize);
    }

    // Where each MAC's first search reply of this search came from: the address it announced
    // and the datagram's source (0: unknown). Guarded by csFoundMacs; bounded so that a flood
    // of invented MACs cannot grow it.
    struct ReplyOrigin {
        std::uint32_t announced = 0;
        std::uint32_t source = 0;
    };
    static constexpr std::size_t kMaxReplyOrigins = 4 * kCameraTableSize;
    std::unordered_map<std::string, ReplyOrigin> m_replyOrigins;
    // MACs (lower case) that answered this search from two addresses, with the addresses.
    std::unordered_map<std::string, std::string> m_spoofedMacs;

    // Notes a search reply's origin. Returns the two addresses ("a, b") the first time the MAC
    // disagrees with its first reply of the search; empty otherwise (repeats of the same
    // reply, a MAC already marked, an unknown source).
    std::string noteReplyOrigin(const std::string& macLower, std::uint32_t announced,
                                std::uint32_t source);
    // The MAC's mark of this search ("a, b"), empty when none.
    std::string spoofedAddresses(const std::string& macLower) const {
        std::lock_guard lock(m_csFoundMacs);
        const auto it = m_spoofedMacs.find(macLower);
        return it == m_spoofedMacs.end() ? std::string() : it->second;
    }

    bool appendReply(const SetReplyEntry& reply) {
        std::lock_guard lock(m_csReplies);
        if (m_nReplyWrite >= static_cast<int>(kCameraTableSize)) return false;
        m_SetReplies[m_nReplyWrite++] = reply;
        return true;
    }

    bool takeReply(SetReplyEntry& out) {
        std::lock_guard lock(m_csReplies);
        if (m_nReplyRead == m_nReplyWrite) return false;
        out = m_SetReplies[m_nReplyRead++];
        return true;
    }

    void resetReplies() {
        std::lock_guard lock(m_csReplies);
        m_nReplyWrite = 0;
        m_nReplyRead = 0;
        std::memset(m_SetReplies, 0, sizeof(m_SetReplies));
    }

    // Start of a search: positions, counters and the whole table back to zero.
    void resetForSearch() {
        {
            std::lock_guard lock(m_csCamTable);
            m_nFindWrite = 0;
            m_nFindRead = 0;
            m_nTotal = m_nNew = m_nOk = m_nAttention = 0;
            m_CamTable.clear();
            m_dwResultBeforeOverlap.fill(0);
            m_nAppendedBy.fill(-1);
        }
        std::lock_guard lock(m_csFoundMacs);
        m_replyOrigins.clear();
        m_spoofedMacs.clear();
    }
};

inline std::string CameraStore::noteReplyOrigin(const std::string& macLower,
                                                std::uint32_t announced, std::uint32_t source) {
    std::lock_guard lock(m_csFoundMacs);
    auto it = m_replyOrigins.find(macLower);
    if (it == m_replyOrigins.end()) {
        if (m_replyOrigins.size() < kMaxReplyOrigins)
            m_replyOrigins.emplace(macLower, ReplyOrigin{announced, source});
        return {};
    }
    ReplyOrigin& first = it->second;
    if (first.source == 0) first.source = source;
    const bool announcedDiffers = first.announced != announced;
    const bool sourceDiffers = source != 0 && first.source != source;
    if ((!announcedDiffers && !sourceDiffers) || m_spoofedMacs.count(macLower) != 0) return {};
    const auto text = [](std::uint32_t a) { return ipv4::toText(a); };
    std::string addresses = announcedDiffers
                                ? text(first.announced) + ", " + text(announced)
                                : text(first.source) + ", " + text(source) + " (datagram sources)";
    m_spoofedMacs.emplace(macLower, addresses);
    return addresses;
}

}  // namespace lanrove
