#include "ui/gui_settings_events.h"

#include <QMetaObject>

namespace lanrove::ui {

void GuiSettingsEvents::settingResult(const SettingResult& result) {
    QObject* receiver = m_receiver.data();
    if (receiver == nullptr) return;
    SetupCore* core = &m_core;
    // Always queued, also from the receiver's own thread: the list changes only on its thread.
    QMetaObject::invokeMethod(
        receiver, [core, result] { core->applySettingResult(result); }, Qt::QueuedConnection);
}

}  // namespace lanrove::ui
