#pragma once
// What a setting will change on one camera, for the confirmations: one "Field: old → new" per
// field that differs, labelled as the setting dialog labels it.

#include <QStringList>

#include "app/lang_table.h"
#include "discovery/camera_entry.h"

namespace lanrove::ui {

QStringList settingChanges(const LangTable& texts, const CameraEntry& before,
                           const CameraEntry& after);

}  // namespace lanrove::ui
