#include "app/setup_core.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "runs/change_journal.h"

namespace lanrove {

namespace {

std::string wireCodePage(unsigned langId) {
    // A setting for sites whose cameras use another code page than the PC's language.
    if (const char* cp = std::getenv("LANROVE_CODEPAGE"); cp != nullptr && *cp != '\0') return cp;
    return codePageForLangId(langId);
}

}  // namespace

bool isMaintenanceEdition(std::string_view exeBaseName) {
    std::string upper(exeBaseName);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper.find("_FWTOOL") != std::string::npos;
}

SetupCore::SetupCore(const Clock& clock, TraceLog& log, ProgramPaths paths, unsigned langId,
                     HostNetwork* net, DatagramTransport* transport)
    : m_clock(clock),
      m_log(log),
      m_paths(std::move(paths)),
      m_langId(langId),
      m_codec(wireCodePage(langId)),
      m_store(std::make_unique<CameraStore>()),
      m_classifier(*m_store, log) {
    if (net == nullptr) {
        m_ownNet = std::make_unique<SystemHostNetwork>(clock, log);
        net = m_ownNet.get();
    }
    m_net = net;
    if (transport == nullptr) {
        m_ownTransport = std::make_unique<UdpBroadcastTransport>(log);
        transport = m_ownTransport.get();
    }
    m_transport = transport;
    m_link = std::make_unique<DatagramLink>(*m_store, *m_transport, log, clock, m_codec);
    m_scheduler = std::make_unique<SendScheduler>(*m_link, *m_store, log, clock);
    m_trust = std::make_unique<CameraTrust>(
        m_paths.folder.empty() ? std::filesystem::path() : CameraTrust::fileIn(m_paths.folder));
    m_trust->setRefusalSink([this](const std::string& mac, const std::string& message) {
        m_log.event(message, "err", mac);
        if (m_trustListener) m_trustListener(mac, message);
    });
    m_cgi = std::make_unique<CCGI>(clock, log, m_codec);
    m_cgi->SetTrust(m_trust.get());
    m_reset = std::make_unique<FactoryReset>(FactoryResetContext{*m_store, *m_cgi, log, clock});
    // Where the neighbour table can be asked, a host that drops pings is not taken for free.
    if (m_net->neighbours() != nullptr)
        m_defaultProbe = std::make_unique<NeighbourAddressProbe>(*m_net, m_net->neighbours(), log);
    else
        m_defaultProbe = std::make_unique<EchoAddressProbe>(*m_net);
    m_probe = m_defaultProbe.get();
    m_list.setStatusTextFn([this](const CameraEntry& e) { return statusTextFor(e); });
    useDefaultFirmwarePorts();
    queryModuleVersion(currentModulePath(), m_version);
}

SetupCore::~SetupCore() {
    // Workers reference the members below; end them before anything is destroyed.
    stopWorkers();
    m_reset.reset();
    m_search.reset();
}

void SetupCore::stopWorkers() {
    // The firmware runs first: their workers use the camera table and the camera client.
    stopFirmwareRuns();
    // Then a settings run (it restarts the receive thread and runs a schedule), then the
    // search worker: it starts receive threads and schedules itself.
    m_settingsRun.reset();
    if (m_search) m_search->stop();
    m_scheduler->stop();
    m_store->m_bStop = 1;
    m_link->stopRecvThread();
    // The reset thread last, as the window's destruction orders it.
    m_reset->stop();
}

void SetupCore::readEditionAndSettings() {
    const bool maintenance = isMaintenanceEdition(m_paths.exeBaseName);
    m_bUpdateEdition = maintenance;
    m_bShowReset = maintenance;
    m_settings = readFirmuploadSettings(m_paths.settingsIni());
    m_nInstance = m_settings.nInstance;
    changeJournal().open(ChangeJournal::fileIn(m_paths.folder));
}

bool SetupCore::createLog() {
    const bool on = m_log.create(m_paths.folder);
    // The log tells whoever reads it later that its waits were not the real ones.
    const auto* scaled = dynamic_cast<const ScaledClock*>(&m_clock);
    if (const std::string warning = timeScaleWarning(scaled != nullptr ? scaled->scale() : 1.0);
        on && !warning.empty())
        m_log.traceText(1, warning);
    return on;
}

void SetupCore::loadTexts() {
    m_texts.loadMain(m_langId, m_paths.languageIni());
    m_texts.loadAdded(m_langId, m_paths.languageIni());
    StatusTexts status;
    status.newText = text(u"MAIN_WINDOW", u"MAIN_CAMERA_NEW");
    status.okText = text(u"MAIN_WINDOW", u"MAIN_CAMERA_OK");
    status.attentionText = text(u"MAIN_WINDOW", u"MAIN_CAMERA_ATTENTION");
    m_classifier.setStatusTexts(status);
    m_list.setSslTexts(text(u"MAIN_WINDOW", u"MAIN_ON"), text(u"MAIN_WINDOW", u"MAIN_OFF"));
}

StartupCheck SetupCore::checkNetwork() {
    const NetworkCheckResult result = runStartupNetworkCheck(*m_net, m_adapters);
    m_lastEchoResult = result.echoResult;
    if (result.outcome == NetworkCheckOutcome::Pass) return StartupCheck::Pass;
    if (result.echoResult == kEchoUnavailable)
        m_log.traceText(1,
                        "ICMP echo socket not allowed for this user (net.ipv4.ping_group_range)");
    if (!m_adapters.empty()) {
        m_log.event("The personal firewall is valid", "warn", "");
        return StartupCheck::Firewall;
    }
    m_log.event("IP address is not set to NIC", "warn", "");
    return StartupCheck::NoAddress;
}

std::u16string SetupCore::startupErrorText(StartupCheck check) const {
    switch (check) {
        case StartupCheck::Firewall:
            if (m_lastEchoResult == kEchoUnavailable)
                return text(u"ERROR_WINDOW", u"ERROR_FIREWALL") +
                       std::u16string(kEchoNotAllowedHint);
            return text(u"ERROR_WINDOW", u"ERROR_FIREWALL");
        case StartupCheck::NoAddress:
            return text(u"ERROR_WINDOW", u"ERROR_IP");
        case StartupCheck::Pass:
            break;
    }
    return {};
}

void SetupCore::writeStartLines(const void* handle) {
    m_log.trace(-1, "-- Lanrove Set utility Start(%p) Ver.%u.%u.%u.%u --", handle, m_version.major,
                m_version.minor, m_version.build, m_version.revision);
    m_log.trace(1, "Firm Upload Instance Set(%lu)", static_cast<unsigned long>(m_nInstance));
}

void SetupCore::shutdown(const void* handle) {
    stopWorkers();
    m_store->clearFoundMacs();
    m_log.trace(-2, "-- Lanrove Set utility End(%p) --", handle);
}

void SetupCore::prepareSearch(const void* handle) {
    m_list.clear();
    m_wFirmMode = kFirmModeNormal;
    m_log.trace(1, "Cam Search Set(%p)", handle);
}

void SetupCore::startSearch(SearchEvents& events) {
    if (m_search && m_search->running()) return;
    m_search.reset();
    SearchContext ctx{*m_store, m_adapters, m_nAdapter, *m_link, *m_scheduler,
                      *m_cgi,   *m_net,     m_log,      m_clock};
    m_search = std::make_unique<CameraSearch>(ctx, events);
    m_search->start();
}

void SetupCore::cancelSearch() {
    if (m_search) m_search->cancel();
}

bool SetupCore::searchRunning() const {
    return m_search && m_search->running();
}

bool SetupCore::waitSearchEnd(Millis d) const {
    return !m_search || m_search->waitEnd(d);
}

int SetupCore::onAddRow(int recordIndex) {
    if (recordIndex < 0 || recordIndex >= static_cast<int>(kCameraTableSize)) return -1;
    return m_list.addRow(m_store->m_CamTable[static_cast<std::size_t>(recordIndex)]);
}

int SetupCore::onReplaceRow(int rowRecord, int fromRecord) {
    constexpr int kRecords = static_cast<int>(kCameraTableSize);
    if (rowRecord < 0 || rowRecord >= kRecords || fromRecord < 0 || fromRecord >= kRecords ||
        rowRecord == fromRecord)
        return -1;
    CameraEntry shown;
    {
        // The worker may be marking records under this lock.
        std::lock_guard lock(m_store->m_csCamTable);
        CameraEntry& target = m_store->m_CamTable[static_cast<std::size_t>(rowRecord)];
        CameraEntry entry = m_store->m_CamTable[static_cast<std::size_t>(fromRecord)];
        if (fieldView(entry.szMac) != fieldView(target.szMac)) return -1;
        std::memcpy(entry.szNo, target.szNo, sizeof entry.szNo);
        std::memcpy(entry.szStatus, target.szStatus, sizeof entry.szStatus);
        entry.dwResult = target.dwResult;
        target = entry;
        shown = entry;
    }
    const int row = m_list.findRowByNumber(fieldView(shown.szNo));
    if (row >= 0) m_list.refreshRow(row, shown);
    return row;
}

void SetupCore::onMarkRows(int rowCount) {
    m_classifier.markOverlaps(m_list, rowCount);
}

std::u16string SetupCore::statusTextFor(const CameraEntry& e) const {
    if (!m_bUpdateEdition || m_wFirmMode == kFirmModeNormal)
        return std::u16string(fieldView(e.szStatus));
    if (m_wFirmMode == kFirmModeCheck) {
        switch (e.wFirmStatus) {
            case 0:
                return {};
            case 0x1200:
                return text(u"FIRMUP_WINDOW", u"FIRMSTS_EFFECT");
            case 0x1202:
                return text(u"FIRMUP_WINDOW", u"FIRMSTS_NEW");
            default:
                return text(u"FIRMUP_WINDOW", u"FIRMSTS_INVALID");
        }
    }
    if (m_wFirmMode == kFirmModeUpdate) {
        switch (e.wUploadStatus) {
            case 0x1002:
            case 0x1004:
            case 0x1005:
            case 0x1008:
            case 0x1009:
            case 0x100A:
                return text(u"FIRMUP_WINDOW", u"UPSTS_EXC");
            case 0x100B:
                return text(u"FIRMUP_WINDOW", u"UPSTS_END");
            case 0x100C:  // accepted, but no version to show that it took
                return text(u"FIRMUP_WINDOW", u"UPSTS_UNVERIFIED");
            case 0x10FF:
                return text(u"FIRMUP_WINDOW", u"UPSTS_CANCEL");
            case 0x2000:
                return e.wFirmStatus == 0x1201 ? text(u"FIRMUP_WINDOW", u"FIRMSTS_INVALID")
                                               : text(u"FIRMUP_WINDOW", u"UPSTS_ERROR");
            case 0x2002:
                return text(u"FIRMUP_WINDOW", u"UPSTS_FAILD");
            case 0x2004:
                return text(u"FIRMUP_WINDOW", u"UPSTS_ERROR");
            default:
                return {};
        }
    }
    return std::u16string(fieldView(e.szStatus));
}

SettingsRun& SetupCore::newSettingsRun(SettingsRunEvents& events) {
    m_settingsRun.reset();  // its destructor ends its workers
    m_settingNotes.clear();
    SettingsRunContext ctx{*m_store, m_adapters, m_nAdapter, *m_link, *m_scheduler,
                           *m_cgi,   *m_net,     *m_probe,   m_log,   m_clock};
    m_settingsRun = std::make_unique<SettingsRun>(ctx, events);
    return *m_settingsRun;
}

void SetupCore::setAddressProbe(AddressProbe* probe) {
    m_probe = probe != nullptr ? probe : m_defaultProbe.get();
}

void SetupCore::applySettingResult(const SettingResult& result) {
    const int index = result.recordIndex;
    if (index < 0 || index >= static_cast<int>(kCameraTableSize)) return;
    CameraEntry& entry = m_store->m_CamTable[static_cast<std::size_t>(index)];
    if (fieldEmpty(entry.szNo) || fieldView(entry.szNo) != fieldView(result.record.szNo)) {
        m_log.trace(1, "SettingResult No(%s) not in the camera table: ignored.",
                    fieldUtf8(result.record.szNo).c_str());
        return;
    }
    const int row = m_list.findRowByNumber(fieldView(entry.szNo));
    if (row < 0) {
        m_log.trace(1, "SettingResult No(%s) not in the list: ignored.",
                    fieldUtf8(entry.szNo).c_str());
        return;
    }
    CameraEntry record = result.record;
    // What the camera has now: a version-1 camera that took the datagram is at its new
    // address whatever its net.cgi did.
    CameraEntry now = entry;
    if (result.copy == SettingCopy::WholeRecord) {
        now = record;
    } else if (result.copy == SettingCopy::Network) {
        std::memcpy(now.szIp, record.szIp, sizeof now.szIp);
        std::memcpy(now.szMask, record.szMask, sizeof now.szMask);
        std::memcpy(now.szGateway, record.szGateway, sizeof now.szGateway);
    }
    const bool accepted = record.dwResult == kResultAccepted;
    if (result.copy == SettingCopy::StatusOnly)
        journalSetting(entry, record, accepted, record.dwResult);
    else
        journalSetting(entry, now, accepted, record.dwResult,
                       result.addressOnly ? kAddressOnlyText : "");
    // Classified from the status the table holds now, so the counters move from the right one.
    std::memcpy(record.szStatus, entry.szStatus, sizeof record.szStatus);
    m_classifier.classify(record);
    const std::string title = fieldUtf8(entry.szTitle);
    now.dwResult = record.dwResult;
    now.bFactory = record.bFactory;
    std::memcpy(now.szStatus, record.szStatus, sizeof now.szStatus);
    entry = now;
    if (result.addressOnly) {
        m_log.event(kAddressOnlyText, "err", title);
        m_settingNotes.push_back(fieldUtf8(entry.szMac) + " (" + fieldUtf8(entry.szIp) +
                                 "): " + kAddressOnlyText);
    }
    m_list.refreshRow(row, entry);
    m_classifier.markOverlaps(m_list, m_list.rowCount());
}

long SetupCore::startFactoryReset(const void* handle, FactoryResetEvents* events) {
    m_log.trace(1, "AllResetSetting Set(%p)", handle);
    return m_reset->start(events);
}

int SetupCore::countNewCameras() const {
    const std::u16string& newText = m_classifier.statusTexts().newText;
    int count = 0;
    for (const CameraEntry& e : m_store->m_CamTable.rows)
        if (fieldView(e.szStatus) == newText) ++count;
    return count;
}

int SetupCore::loginTest(const CameraEntry& entry) {
    CgiSessionSlot slot;
    const int result = m_cgi->ConnectInitSess(entry, slot, true);
    slot.reset();  // release the connection
    return result;
}

}  // namespace lanrove
