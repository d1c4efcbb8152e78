#pragma once
// The manual setting dialog: one camera's address, mask, gateway, port, SSL and title. Execute
// checks the fields (syntax, the address's host part, the mask), asks for confirmation, with a
// sharper warning when the camera would end up outside the PC's subnet, and on Yes writes the
// values into the work copy and closes with OK. No leaves the dialog open.

#include <QButtonGroup>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "discovery/adapter_entry.h"
#include "discovery/camera_entry.h"
#include "ui/ip_address_edit.h"
#include "ui/setting_dialog.h"

namespace lanrove::ui {

enum ManualSettingControlId : int {
    kIdManualCaptionFirst = 1021,
    kIdManualCaptionLast = 1028,
    kIdManualNo = 1029,
    kIdManualModel = 1030,
    kIdManualPort = 1034,
    kIdManualTitle = 1035,
    kIdManualSslOn = 1036,
    kIdManualSslOff = 1037,
    kIdManualExecute = 1038,
    kIdManualCancel = 1039,
    kIdManualIp = 1045,
    kIdManualMask = 1046,
    kIdManualGateway = 1047,
};

inline constexpr int kCameraTitleMax = 16;

class CSetCameraSts final : public SettingDialog {
    Q_OBJECT
  public:
    CSetCameraSts(DialogServices services, CameraEntry& workCopy, const AdapterEntry& adapter,
                  QWidget* parent = nullptr);

    IpAddressEdit* ipEdit() const { return m_pIp; }
    IpAddressEdit* maskEdit() const { return m_pMask; }
    IpAddressEdit* gatewayEdit() const { return m_pGateway; }
    QLineEdit* portEdit() const { return m_pPort; }
    QLineEdit* titleEdit() const { return m_pTitle; }
    QRadioButton* sslOn() const { return m_pSslOn; }
    QRadioButton* sslOff() const { return m_pSslOff; }
    QPushButton* executeButton() const { return m_pExecute; }
    QPushButton* cancelButton() const { return m_pCancel; }

  public slots:
    void onExecute();

  private:
    CameraEntry& m_work;
    AdapterEntry m_adapter;
    IpAddressEdit* m_pIp;
    IpAddressEdit* m_pMask;
    IpAddressEdit* m_pGateway;
    QLineEdit* m_pPort;
    QLineEdit* m_pTitle;
    QRadioButton* m_pSslOn;
    QRadioButton* m_pSslOff;
    QButtonGroup* m_pSslGroup;
    QPushButton* m_pExecute;
    QPushButton* m_pCancel;
};

}  // namespace lanrove::ui
