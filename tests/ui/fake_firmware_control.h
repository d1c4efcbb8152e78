#pragma once
// Firmware runs that do nothing but what the test tells them: the check "runs" until the test
// ends it, the upload "runs" over records the test writes, and every call is counted. The
// records are either the fake's own or, when given a store, the camera table of a core.

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/firmware_control.h"
#include "discovery/camera_store.h"

namespace lanrove::ui::testing {

class FakeFirmwareControl final : public FirmwareControl {
  public:
    explicit FakeFirmwareControl(CameraStore* store = nullptr) : m_pStore(store) {}

    bool startFirmCheck(FirmwareEvents& events) override {
        ++checkStarts;
        m_pEvents = &events;
        if (!checkStartSucceeds) return false;
        checkDone.reset();
        checkRunning = true;
        return true;
    }
    bool firmCheckRunning() const override { return checkRunning; }
    bool waitFirmCheckDone(Millis d) const override { return checkDone.waitFor(d); }

    long startUpload(FirmwareEvents& events) override {
        ++uploadStarts;
        m_pEvents = &events;
        return uploadResult;
    }
    bool anySlotBusy() const override { return slotBusy; }
    void requestUploadStop() override { ++stopRequests; }

    int firmRecordCount() const override {
        std::lock_guard lock(m_mutex);
        int n = 0;
        while (slot(n) != nullptr && slot(n)->szNo[0] != 0) ++n;
        return n;
    }
    FirmwareProgress firmProgress(int i) const override {
        ++progressReads;
        std::lock_guard lock(m_mutex);
        const CameraEntry* e = slot(i);
        if (e == nullptr) return {};
        const auto r = m_retries.find(i);
        return {e->wFirmStatus, e->wUploadStatus, e->dwSentBytes, e->dwTotalBytes,
                r == m_retries.end() ? 0 : r->second};
    }
    CameraEntry firmRecord(int i) const override {
        std::lock_guard lock(m_mutex);
        const CameraEntry* e = slot(i);
        return e == nullptr ? CameraEntry{} : *e;
    }

    // ---- Test side (any thread) ----
    // Adds a record of the fake's own table with No. n+1.
    void addRecord(std::uint16_t firmStatus, std::uint16_t uploadStatus) {
        std::lock_guard lock(m_mutex);
        CameraEntry e{};
        const std::string no = std::to_string(m_records.size() + 1);
        setField(e.szNo, std::string_view(no));
        e.wFirmStatus = firmStatus;
        e.wUploadStatus = uploadStatus;
        m_records.push_back(e);
    }
    void setStatus(int i, std::uint16_t firmStatus, std::uint16_t uploadStatus) {
        std::lock_guard lock(m_mutex);
        if (CameraEntry* e = slot(i)) {
            e->wFirmStatus = firmStatus;
            e->wUploadStatus = uploadStatus;
        }
    }
    void setBytes(int i, std::uint32_t sent, std::uint32_t total) {
        std::lock_guard lock(m_mutex);
        if (CameraEntry* e = slot(i)) {
            e->dwSentBytes = sent;
            e->dwTotalBytes = total;
        }
    }
    void setRetries(int i, int retries) {
        std::lock_guard lock(m_mutex);
        m_retries[i] = retries;
    }
    // Ends the check as the run does: the report first, then the done signal.
    void finishCheck(bool anyUpdateReady) {
        if (m_pEvents != nullptr) m_pEvents->onFirmCheckDone(anyUpdateReady);
        checkDone.set();
        checkRunning = false;
    }
    FirmwareEvents* events() const { return m_pEvents; }

    std::atomic<bool> checkStartSucceeds{true};
    std::atomic<bool> checkRunning{false};
    std::atomic<bool> slotBusy{false};
    std::atomic<long> uploadResult{0};
    std::atomic<int> checkStarts{0};
    std::atomic<int> uploadStarts{0};
    std::atomic<int> stopRequests{0};
    mutable std::atomic<int> progressReads{0};
    ManualResetEvent checkDone;

  private:
    CameraEntry* slot(int i) const {
        const int size = m_pStore != nullptr ? static_cast<int>(kCameraTableSize)
                                             : static_cast<int>(m_records.size());
        if (i < 0 || i >= size) return nullptr;
        return m_pStore != nullptr ? &m_pStore->m_CamTable[static_cast<std::size_t>(i)]
                                   : &m_records[static_cast<std::size_t>(i)];
    }

    mutable std::mutex m_mutex;
    CameraStore* m_pStore;
    mutable std::vector<CameraEntry> m_records;
    std::map<int, int> m_retries;
    FirmwareEvents* m_pEvents = nullptr;
};

}  // namespace lanrove::ui::testing
