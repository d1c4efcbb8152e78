#include "runs/settings_run.h"

namespace lanrove {

bool EchoAddressProbe::inUse(std::u16string_view address) {
    return m_net.echo(address, kProbeEchoTimeoutMs) == kEchoSuccess;
}

FreeAddressResult findFreeAddresses(const std::vector<std::u16string>& /*candidates*/,
                                    int /*wanted*/, AddressProbe& /*probe*/, TraceLog& /*log*/) {
    return {};
}

SettingsRun::SettingsRun(SettingsRunContext context, SettingsRunEvents& events)
    : m_ctx(context), m_events(events) {}

SettingsRun::~SettingsRun() = default;

void SettingsRun::prepareAuto(std::vector<std::u16string> candidates, int wanted,
                              std::u16string newText) {
    m_mode = RunMode::Auto;
    m_candidates = std::move(candidates);
    m_nWanted = wanted;
    m_newText = std::move(newText);
}

void SettingsRun::prepareManual(const CameraEntry& loginEntry, const CameraEntry& edited,
                                bool statusWasOk) {
    m_mode = RunMode::Manual;
    m_LoginEntry = loginEntry;
    m_edited = edited;
    m_bStatusWasOk = statusWasOk;
}

void SettingsRun::begin() {}
void SettingsRun::startProbe() {}
bool SettingsRun::progressTick() {
    return true;
}
void SettingsRun::cancel() {
    m_bCancelled = true;
}
bool SettingsRun::cancelTick() {
    return true;
}

FreeAddressResult SettingsRun::freeAddresses() const {
    std::lock_guard lock(m_resultMutex);
    return m_probeResult;
}

void SettingsRun::probeWorker() {}
void SettingsRun::settingWorker() {}
void SettingsRun::fillAutoTable() {}
std::uint32_t SettingsRun::judgeManual(const SetReplyEntry& /*reply*/,
                                       const CameraEntry& /*record*/) {
    return 400;
}

}  // namespace lanrove
