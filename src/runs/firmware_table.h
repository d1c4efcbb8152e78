#pragma once
// The camera table as the firmware runs share it: the check thread, the dispatcher and every
// worker write statuses, byte counters and texts of records while the window (or the command
// line) reads them. Every access, on either side, takes the table lock, so a reader never sees
// a half-written record and the thread checker has nothing to report.

#include <cstdint>
#include <mutex>

#include "discovery/camera_entry.h"
#include "discovery/camera_store.h"

namespace lanrove {

struct FirmProgressView {
    std::uint16_t firmStatus = 0;
    std::uint16_t uploadStatus = 0;
    std::uint32_t sentBytes = 0;
    std::uint32_t totalBytes = 0;
};

class FirmTable {
  public:
    explicit FirmTable(CameraStore& store) : m_store(store) {}

    static bool validIndex(int i) { return i >= 0 && i < static_cast<int>(kCameraTableSize); }

    CameraEntry snapshot(int i) const {
        std::lock_guard lock(m_store.m_csCamTable);
        return row(i);
    }
    // Runs `f` on the record under the lock.
    template <class F>
    void update(int i, F&& f) {
        std::lock_guard lock(m_store.m_csCamTable);
        f(row(i));
    }
    template <class F>
    auto read(int i, F&& f) const {
        std::lock_guard lock(m_store.m_csCamTable);
        return f(static_cast<const CameraEntry&>(row(i)));
    }

    void setUploadStatus(int i, std::uint16_t v) {
        update(i, [v](CameraEntry& e) { e.wUploadStatus = v; });
    }
    void setFirmStatus(int i, std::uint16_t v) {
        update(i, [v](CameraEntry& e) { e.wFirmStatus = v; });
    }
    std::uint16_t firmStatus(int i) const {
        return read(i, [](const CameraEntry& e) { return e.wFirmStatus; });
    }
    std::uint16_t uploadStatus(int i) const {
        return read(i, [](const CameraEntry& e) { return e.wUploadStatus; });
    }
    FirmProgressView progress(int i) const {
        return read(i, [](const CameraEntry& e) {
            return FirmProgressView{e.wFirmStatus, e.wUploadStatus, e.dwSentBytes, e.dwTotalBytes};
        });
    }
    // Records from index 0 up to the first empty No., at most `limit`.
    int recordCount(int limit = static_cast<int>(kCameraTableSize)) const {
        std::lock_guard lock(m_store.m_csCamTable);
        int n = 0;
        while (n < limit && n < static_cast<int>(kCameraTableSize) &&
               !fieldEmptyNo(m_store.m_CamTable[static_cast<std::size_t>(n)]))
            ++n;
        return n;
    }

    CameraStore& store() { return m_store; }

  private:
    static bool fieldEmptyNo(const CameraEntry& e) { return e.szNo[0] == 0; }
    CameraEntry& row(int i) const { return m_store.m_CamTable[static_cast<std::size_t>(i)]; }

    CameraStore& m_store;
};

}  // namespace lanrove
