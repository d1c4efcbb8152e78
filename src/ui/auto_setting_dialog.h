#pragma once
// The range dialog of the automatic setting: a start and an end address. The start opens one
// above the adapter's gateway (or its network address) and is pulled back into the adapter's
// subnet on every change; a blank end means "to the end of the subnet". Execute checks the
// range and, when it is good, keeps the ascending list of candidate addresses and closes with
// OK.

#include <QLabel>
#include <QPushButton>
#include <string>
#include <vector>

#include "discovery/adapter_entry.h"
#include "runs/ip_setting_rules.h"
#include "ui/ip_address_edit.h"
#include "ui/setting_dialog.h"

namespace lanrove::ui {

enum AutoSettingControlId : int {
    kIdAutoExecute = 1008,
    kIdAutoMessage = 1009,
    kIdAutoRangeCaption = 1015,
    kIdAutoFromCaption = 1016,
    kIdAutoToCaption = 1017,
    kIdAutoCancel = 1039,
    kIdAutoStart = 1045,
    kIdAutoEnd = 1046,
};

class CLanroveSet final : public SettingDialog {
    Q_OBJECT
  public:
    CLanroveSet(DialogServices services, const AdapterEntry& adapter, QWidget* parent = nullptr);

    IpAddressEdit* startEdit() const { return m_pStart; }
    IpAddressEdit* endEdit() const { return m_pEnd; }
    QPushButton* executeButton() const { return m_pExecute; }
    QPushButton* cancelButton() const { return m_pCancel; }
    // The candidate addresses of the last successful Execute.
    const CandidateAddresses& candidates() const { return m_candidates; }

  public slots:
    void onExecute();

  private:
    void onStartChanged();

    AdapterEntry m_adapter;
    IpAddressEdit* m_pStart;
    IpAddressEdit* m_pEnd;
    QPushButton* m_pExecute;
    QPushButton* m_pCancel;
    CandidateAddresses m_candidates;
};

}  // namespace lanrove::ui
