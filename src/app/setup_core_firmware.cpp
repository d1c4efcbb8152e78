// SetupCore's side of the firmware runs: the F/W check run and the upload run over the camera
// table, the "Firmupload" settings and the selected adapter.
#include "app/setup_core.h"
#include "runs/firmware_cgi_camera.h"
#include "runs/firmware_folder_files.h"
#include "runs/firmware_ports.h"

namespace lanrove {

void SetupCore::useDefaultFirmwarePorts() {
    m_firmFiles = std::make_unique<FolderFirmwareFiles>(m_paths.folder, m_log);
    m_makeFirmCamera = cgiFirmCameraFactory(*m_cgi, m_log, m_clock);
}

void SetupCore::setFirmwarePorts(std::unique_ptr<FirmwareFiles> files,
                                 FirmCameraFactory makeCamera) {
    if (m_firmCheck || m_firmUpload) return;  // the runs hold references to the old ones
    m_firmFiles = std::move(files);
    m_makeFirmCamera = std::move(makeCamera);
}

FirmRunEnv SetupCore::firmRunEnv() {
    const std::filesystem::path ini = m_paths.settingsIni();
    return FirmRunEnv{
        *m_store, *m_firmFiles, m_makeFirmCamera, *m_net, m_log, m_clock, [ini] {
            // Read at each start of a worker, as the settings may change
            // between runs.
            const FirmuploadSettings s = readFirmuploadSettings(ini);
            return FirmRunSettings{s.bVersionCompare, s.nRetryCount, s.nUploadingTime};
        }};
}

AdapterEntry SetupCore::selectedAdapter() const {
    AdapterEntry a{};
    a.clear();
    if (m_nAdapter >= 0 && m_nAdapter < static_cast<int>(m_adapters.size()))
        a = m_adapters[static_cast<std::size_t>(m_nAdapter)];
    return a;
}

void SetupCore::stopFirmwareRuns() {
    if (m_firmUpload) m_firmUpload->stop();
    if (m_firmCheck) m_firmCheck->stop();
}

bool SetupCore::startFirmCheck(FirmwareEvents& events) {
    if (!m_firmFiles || !m_makeFirmCamera) return false;
    m_checkEvents.target = &events;
    if (!m_firmCheck) m_firmCheck = std::make_unique<FirmwareCheckRun>(firmRunEnv(), m_checkEvents);
    const std::uint16_t mode = m_wFirmMode == kFirmModeUpdate ? kFirmRunUpload : kFirmRunCheck;
    return m_firmCheck->start(mode, selectedAdapter());
}

bool SetupCore::firmCheckRunning() const {
    return m_firmCheck && m_firmCheck->running();
}

bool SetupCore::waitFirmCheckDone(Millis d) const {
    return !m_firmCheck || m_firmCheck->waitDone(d);
}

long SetupCore::startUpload(FirmwareEvents& events) {
    if (!m_firmFiles || !m_makeFirmCamera) return -1;
    m_uploadEvents.target = &events;
    // A camera may come back from a firmware update with a new certificate.
    for (const CameraEntry& e : m_store->m_CamTable.rows)
        if (e.inUse() && e.wFirmStatus == fwcode::kUpdateReady && !fieldEmpty(e.szMac))
            m_trust->expectNew(fieldUtf8(e.szMac));
    if (!m_firmUpload)
        m_firmUpload = std::make_unique<FirmwareUpdateRun>(firmRunEnv(), m_uploadEvents);
    return m_firmUpload->start(m_nInstance, selectedAdapter());
}

bool SetupCore::anySlotBusy() const {
    return m_firmUpload && m_firmUpload->anySlotBusy();
}

void SetupCore::requestUploadStop() {
    if (m_firmUpload) m_firmUpload->requestStop();
}

int SetupCore::firmRecordCount() const {
    return FirmTable(*m_store).recordCount();
}

FirmwareProgress SetupCore::firmProgress(int recordIndex) const {
    if (!FirmTable::validIndex(recordIndex)) return {};
    const FirmProgressView v = FirmTable(*m_store).progress(recordIndex);
    const int retries = m_firmUpload ? m_firmUpload->retries(recordIndex) : 0;
    return FirmwareProgress{v.firmStatus, v.uploadStatus, v.sentBytes, v.totalBytes, retries};
}

CameraEntry SetupCore::firmRecord(int recordIndex) const {
    if (!FirmTable::validIndex(recordIndex)) {
        CameraEntry e{};
        e.clear();
        return e;
    }
    return FirmTable(*m_store).snapshot(recordIndex);
}

void SetupCore::refreshFirmRow(int recordIndex) {
    if (!FirmTable::validIndex(recordIndex)) return;
    // Under the table lock: the runs write these records meanwhile, and the marking below
    // reads and writes them too.
    std::lock_guard lock(m_store->m_csCamTable);
    const CameraEntry& entry = m_store->m_CamTable[static_cast<std::size_t>(recordIndex)];
    if (!entry.inUse()) return;
    const int row = m_list.findRowByNumber(fieldView(entry.szNo));
    if (row >= 0) m_list.refreshRow(row, entry);
    m_classifier.markOverlaps(m_list, m_list.rowCount());
}

}  // namespace lanrove
