#pragma once
// What an address plan's check needs of the core: the camera table, the adapter in use, the
// status texts, the login test and the free-address probe.

#include "app/setup_core.h"
#include "runs/address_plan.h"

namespace lanrove {

inline PlanCheckContext planCheckContext(SetupCore& core) {
    PlanCheckContext ctx;
    ctx.cameras = core.store().m_CamTable.rows.data();
    ctx.cameraCount = core.store().m_CamTable.rows.size();
    ctx.adapter.clear();
    const int i = core.adapterIndex();
    if (i >= 0 && i < static_cast<int>(core.adapters().size()))
        ctx.adapter = core.adapters()[static_cast<std::size_t>(i)];
    ctx.okText = core.classifier().statusTexts().okText;
    ctx.newText = core.classifier().statusTexts().newText;
    ctx.loginTest = [&core](const CameraEntry& e) { return core.loginTest(e); };
    ctx.probe = &core.addressProbe();
    return ctx;
}

// The camera-table entry with this MAC text ("AA:BB:..."), or null.
inline const CameraEntry* findPlannedCamera(SetupCore& core, const std::string& mac) {
    for (const CameraEntry& e : core.store().m_CamTable.rows)
        if (e.inUse() && fieldUtf8(e.szMac) == mac) return &e;
    return nullptr;
}

}  // namespace lanrove
