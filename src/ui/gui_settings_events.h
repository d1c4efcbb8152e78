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

  private:
    QPointer<QObject> m_receiver;
    SetupCore& m_core;
};

}  // namespace lanrove::ui
