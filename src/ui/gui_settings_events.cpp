#include "ui/gui_settings_events.h"

#include <QMetaObject>

namespace lanrove::ui {

void GuiSettingsEvents::settingResult(const SettingResult& result) {
    QObject* receiver = m_receiver.data();
    if (receiver == nullptr) return;
    SetupCore* core = &m_core;
    // Always queued, also from the receiver's own thread: the list changes only on its thread.
    // The call dies with the receiver, which owns these events: `this` outlives it.
    QMetaObject::invokeMethod(
        receiver,
        [this, core, result] {
            ++m_nResults;
            if (result.record.dwResult == kResultAccepted) ++m_nAccepted;
            core->applySettingResult(result);
        },
        Qt::QueuedConnection);
}

}  // namespace lanrove::ui
