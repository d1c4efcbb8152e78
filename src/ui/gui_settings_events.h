#pragma once
// The settings run's results as posted calls: each result is queued onto the receiving
// window's thread and applied there to the camera table and the list, in the order the
// workers sent them. A result that arrives after the window is gone is dropped.

#include <QObject>
#include <QPointer>

#include "app/setup_core.h"
#include "runs/settings_run.h"

namespace lanrove::ui {

class GuiSettingsEvents final : public SettingsRunEvents {
  public:
    GuiSettingsEvents(QObject* receiver, SetupCore& core) : m_receiver(receiver), m_core(core) {}

    void settingResult(const SettingResult& result) override;

    // The results applied since the last reset: accepted, and all of them.
    void resetCounts() { m_nAccepted = m_nResults = 0; }
    int acceptedCount() const { return m_nAccepted; }
    int resultCount() const { return m_nResults; }

  private:
    int m_nAccepted = 0;  // touched on the receiver's thread only
    int m_nResults = 0;
    QPointer<QObject> m_receiver;
    SetupCore& m_core;
};

}  // namespace lanrove::ui
