#pragma once
// The main window's state and work without any window: the camera data, the adapters, the
// text table, the edition and settings, the datagram link and send schedules, the camera HTTP
// client and the search. The desktop program shows it; the command-line tool drives it.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/firmware_control.h"
#include "app/lang_table.h"
#include "app/settings.h"
#include "cgi/cgi.h"
#include "discovery/adapter_entry.h"
#include "discovery/camera_list_model.h"
#include "discovery/camera_status.h"
#include "discovery/camera_store.h"
#include "discovery/datagram_link.h"
#include "discovery/host_network.h"
#include "discovery/send_schedule.h"
#include "runs/camera_search.h"
#include "runs/factory_reset.h"
#include "runs/firmware_check_run.h"
#include "runs/firmware_update_run.h"
#include "runs/neighbour_address_probe.h"
#include "runs/settings_run.h"
#include "support/clock.h"
#include "support/program_paths.h"
#include "support/text.h"
#include "support/trace_log.h"
#include "support/version_query.h"

namespace lanrove {

// List status modes: how refreshed rows show their status column.
enum FirmMode : std::uint16_t { kFirmModeNormal = 0, kFirmModeCheck = 1, kFirmModeUpdate = 2 };

// "_FWTOOL" in the upper-cased executable base name marks the maintenance edition.
bool isMaintenanceEdition(std::string_view exeBaseName);

enum class StartupCheck { Pass, NoAddress, Firewall };

// Added to the firewall box when the system let this user open no ICMP socket at all: the
// echo then never went out, and the cause is the system's setting, not a firewall.
inline constexpr std::u16string_view kEchoNotAllowedHint =
    u"\n\nThis user may not send ICMP echo requests. Allow them with:\n"
    u"sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"";

class SetupCore final : public FirmwareControl {
  public:
    // `net` and `transport` may be null: the system implementations are used then.
    SetupCore(const Clock& clock, TraceLog& log, ProgramPaths paths, unsigned langId,
              HostNetwork* net = nullptr, DatagramTransport* transport = nullptr);
    ~SetupCore() override;
    SetupCore(const SetupCore&) = delete;
    SetupCore& operator=(const SetupCore&) = delete;

    // ---- Start-up, in the order the main window runs it ----
    // Edition from the executable name and "Instance" from the settings file.
    void readEditionAndSettings();
    // The trace log in the program folder; false when it stays off.
    bool createLog();
    // The main text table (with Language.ini) and the texts the core itself uses.
    void loadTexts();
    // Adapter list and echo test. On failure writes the event line and returns which error
    // text start-up shows (ERROR_WINDOW/ERROR_FIREWALL or ERROR_IP).
    StartupCheck checkNetwork();
    std::u16string startupErrorText(StartupCheck check) const;
    // First trace line of the run and the instance line; `handle` stands for the window.
    void writeStartLines(const void* handle);
    // Stops every worker in order (each with the thread stop procedure: the call returns only
    // when they have ended) and writes the last trace line.
    void shutdown(const void* handle);

    // ---- State ----
    CameraStore& store() { return *m_store; }
    CameraListModel& list() { return m_list; }
    const CameraListModel& list() const { return m_list; }
    CameraClassifier& classifier() { return m_classifier; }
    const LangTable& texts() const { return m_texts; }
    std::u16string text(std::u16string_view section, std::u16string_view key) const {
        return m_texts.lookup(section, key);
    }
    std::vector<AdapterEntry>& adapters() { return m_adapters; }
    int& adapterIndex() { return m_nAdapter; }
    DatagramLink& link() { return *m_link; }
    SendScheduler& scheduler() { return *m_scheduler; }
    CCGI& cgi() { return *m_cgi; }
    // Certificate pins and spoof marks of the cameras (the data folder's pin file).
    CameraTrust& trust() { return *m_trust; }
    // Told after the event line of every refusal (changed certificate, spoofed camera), from
    // the thread that made the request; the window asks the installer from there. Set before
    // any run starts.
    void setTrustListener(CameraTrust::RefusalSink listener) {
        m_trustListener = std::move(listener);
    }
    HostNetwork& net() { return *m_net; }
    TraceLog& log() { return m_log; }
    const Clock& clock() const { return m_clock; }
    const ProgramPaths& paths() const { return m_paths; }
    const WireCodec& codec() const { return m_codec; }
    const ModuleVersion& version() const { return m_version; }
    unsigned langId() const { return m_langId; }

    bool updateEdition() const { return m_bUpdateEdition; }
    bool showReset() const { return m_bShowReset; }
    // For tests and tools that choose the edition without renaming the program.
    void setEdition(bool maintenance) { m_bUpdateEdition = m_bShowReset = maintenance; }
    int instance() const { return m_nInstance; }
    const FirmuploadSettings& settings() const { return m_settings; }

    std::uint16_t firmMode() const { return m_wFirmMode; }
    void setFirmMode(std::uint16_t mode) { m_wFirmMode = mode; }

    // ---- Search ----
    // The Search button's own steps before the search window opens: list cleared, list mode
    // normal, counters "0", the trace line.
    void prepareSearch(const void* handle);
    // Starts the search worker; its reports go to `events`.
    void startSearch(SearchEvents& events);
    void cancelSearch();
    bool searchRunning() const;
    bool searchEnded() const { return m_store->m_bSearchEnd.load() == 1; }
    bool waitSearchEnd(Millis d) const;
    const CameraSearch* search() const { return m_search.get(); }

    // ---- Handlers of the worker reports, on the owning thread ----
    // Adds the row of a camera-table record; returns its row index (-1 when out of range).
    int onAddRow(int recordIndex);
    // The row of record `rowRecord` shows record `fromRecord` of the same camera instead (its
    // number, status and result stay); returns the row index, -1 when there is none.
    int onReplaceRow(int rowRecord, int fromRecord);
    // Overlap marking and classification over `rowCount` rows, each row refreshed.
    void onMarkRows(int rowCount);
    // The status column of a refreshed row, chosen by the list mode and the edition.
    std::u16string statusTextFor(const CameraEntry& entry) const;

    // ---- IP setting (Auto setting and Manual setting buttons) ----
    // A fresh run for one button press; an earlier run is ended first. The core owns it until
    // the next press or shutdown; `events` must outlive it.
    SettingsRun& newSettingsRun(SettingsRunEvents& events);
    // The run of the last button press, or null.
    SettingsRun* settingsRun() { return m_settingsRun.get(); }
    // The free-address probe (the neighbour table and the echo by default, the echo alone on a
    // network without a neighbour table; tests and tools may replace it, null restores the
    // default).
    AddressProbe& addressProbe() { return *m_probe; }
    void setAddressProbe(AddressProbe* probe);
    // Applies one run result on the list's thread: classify, copy into the camera table (whole
    // or status only), refresh the row found by its No. text, rerun the overlap marking.
    void applySettingResult(const SettingResult& result);
    // What the window and the tool tell after the run of the last button press beyond the
    // list: one line per camera that moved without its title, port and SSL.
    const std::vector<std::string>& settingNotes() const { return m_settingNotes; }
    // Camera-table entries (all 1000 slots) whose status is the NEW text.
    int countNewCameras() const;
    // The login test of the manual setting: ConnectInitSess form (1) with the entry; below
    // 400 means accepted. The connection is released.
    int loginTest(const CameraEntry& entry);
    // The work copy after the login step (used by the manual run's HTTP part).
    CameraEntry& loginEntry() { return m_LoginEntry; }
    // ---- Factory default (maintenance edition) ----
    // The button's steps after the confirmation: the trace line, then the reset thread started
    // (an earlier one stopped first). `events` may be null and must outlive the thread. 0, or
    // the code of a failed start (the run is then over at once).
    long startFactoryReset(const void* handle, FactoryResetEvents* events);
    // From the start until the reset thread has finished; the IP settings do nothing meanwhile.
    bool resetRunning() const { return m_reset->running(); }
    // The reset (its thread, done event, results); tests may replace its sender.
    FactoryReset& factoryReset() { return *m_reset; }

    // ---- Firmware (the F/W check and F/W Update runs) ----
    FirmwareControl* firmwareControl() { return this; }
    bool startFirmCheck(FirmwareEvents& events) override;
    bool firmCheckRunning() const override;
    bool waitFirmCheckDone(Millis d) const override;
    long startUpload(FirmwareEvents& events) override;
    bool anySlotBusy() const override;
    void requestUploadStop() override;
    int firmRecordCount() const override;
    FirmwareProgress firmProgress(int recordIndex) const override;
    CameraEntry firmRecord(int recordIndex) const override;
    // On the list's thread after onFirmRowChanged: the record's row refreshed from a
    // consistent copy, then the duplicate-address marking.
    void refreshFirmRow(int recordIndex);
    // The runs of the last start (null before the first one).
    const FirmwareCheckRun* firmCheckRun() const { return m_firmCheck.get(); }
    const FirmwareUpdateRun* firmUploadRun() const { return m_firmUpload.get(); }
    // Replaces the firmware files and the camera steps (tests and tools); only while no
    // firmware run exists yet.
    void setFirmwarePorts(std::unique_ptr<FirmwareFiles> files, FirmCameraFactory makeCamera);

    // Whether searches in the window also probe for other makers' ONVIF cameras (the program
    // switches it on; tests on fake networks leave it off).
    void setOnvifProbing(bool on) { m_bOnvifProbing = on; }
    bool onvifProbing() const { return m_bOnvifProbing; }

  private:
    bool m_bOnvifProbing = false;
    void stopWorkers();
    FirmRunEnv firmRunEnv();
    void useDefaultFirmwarePorts();
    void stopFirmwareRuns();
    AdapterEntry selectedAdapter() const;

    // Forwards the runs' reports to the sink of the last start.
    class FirmEventsBridge final : public FirmwareRunEvents {
      public:
        std::atomic<FirmwareEvents*> target{nullptr};
        void firmRowChanged(int recordIndex) override {
            if (FirmwareEvents* t = target.load()) t->onFirmRowChanged(recordIndex);
        }
        void firmCheckDone(bool any) override {
            if (FirmwareEvents* t = target.load()) t->onFirmCheckDone(any);
        }
    };

    const Clock& m_clock;
    TraceLog& m_log;
    ProgramPaths m_paths;
    std::uint32_t m_lastEchoResult = 0;  // of the last start-up check
    unsigned m_langId;
    WireCodec m_codec;
    ModuleVersion m_version;

    std::unique_ptr<HostNetwork> m_ownNet;
    HostNetwork* m_net;
    std::unique_ptr<DatagramTransport> m_ownTransport;
    DatagramTransport* m_transport;

    std::unique_ptr<CameraStore> m_store;  // two tables of 1000 records: on the heap
    CameraListModel m_list;
    CameraClassifier m_classifier;
    LangTable m_texts;
    std::vector<AdapterEntry> m_adapters;
    int m_nAdapter = 0;

    std::unique_ptr<DatagramLink> m_link;
    std::unique_ptr<SendScheduler> m_scheduler;
    std::unique_ptr<CameraTrust> m_trust;
    CameraTrust::RefusalSink m_trustListener;
    std::unique_ptr<CCGI> m_cgi;
    std::unique_ptr<CameraSearch> m_search;
    std::unique_ptr<AddressProbe> m_defaultProbe;
    AddressProbe* m_probe = nullptr;
    std::unique_ptr<SettingsRun> m_settingsRun;
    std::vector<std::string> m_settingNotes;
    CameraEntry m_LoginEntry{};
    std::unique_ptr<FactoryReset> m_reset;

    bool m_bUpdateEdition = false;
    bool m_bShowReset = false;
    int m_nInstance = 10;
    FirmuploadSettings m_settings;
    std::uint16_t m_wFirmMode = kFirmModeNormal;

    std::unique_ptr<FirmwareFiles> m_firmFiles;
    FirmCameraFactory m_makeFirmCamera;
    FirmEventsBridge m_checkEvents;
    FirmEventsBridge m_uploadEvents;
    std::unique_ptr<FirmwareCheckRun> m_firmCheck;
    std::unique_ptr<FirmwareUpdateRun> m_firmUpload;
};

}  // namespace lanrove
