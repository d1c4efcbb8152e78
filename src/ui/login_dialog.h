#pragma once
// The login dialog of the manual setting: user name, password, HTTP port and SSL of one
// camera. Opened pre-filled it shows the work copy's account and accepts the entries as they
// are; otherwise the fields open empty and Execute proves them with a login request. The work
// copy changes only when the dialog closes with OK.

#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <functional>

#include "discovery/camera_entry.h"
#include "ui/setting_dialog.h"

namespace lanrove::ui {

enum LoginControlId : int {
    kIdLoginExecute = 1008,
    kIdLoginSecondMessage = 1013,
    kIdLoginUserCaption = 1014,
    kIdLoginPasswordCaption = 1015,
    kIdLoginMessage = 1016,
    kIdLoginUserEdit = 1018,
    kIdLoginPasswordEdit = 1019,
    kIdLoginCancel = 1039,
    kIdLoginPortCaption = 1061,
    kIdLoginSslCaption = 1062,
    kIdLoginPortEdit = 1063,
    kIdLoginSslOn = 1064,
    kIdLoginSslOff = 1065,
};

inline constexpr int kLoginFieldMax = 32;
inline constexpr int kPortFieldMax = 5;

// The login request: a fresh connection to the camera with the entry's address, port, SSL and
// account; below 400 means accepted. Runs off the GUI thread.
using LoginTest = std::function<int(const CameraEntry& entry)>;

class CLogIn final : public SettingDialog {
    Q_OBJECT
  public:
    CLogIn(DialogServices services, CameraEntry& workCopy, bool prefilled, LoginTest loginTest,
           QWidget* parent = nullptr);

    QLineEdit* userEdit() const { return m_pUser; }
    QLineEdit* passwordEdit() const { return m_pPassword; }
    QLineEdit* portEdit() const { return m_pPort; }
    QRadioButton* sslOn() const { return m_pSslOn; }
    QRadioButton* sslOff() const { return m_pSslOff; }
    QPushButton* executeButton() const { return m_pExecute; }
    QPushButton* cancelButton() const { return m_pCancel; }
    // Which camera the account is for and why it is asked, above the described message and in
    // the title.
    void setCameraAndReason(const QString& camera, const QString& reason);

  public slots:
    void onExecute();

  private:
    CameraEntry& m_work;
    bool m_bPrefilled;
    LoginTest m_loginTest;
    QLineEdit* m_pUser;
    QLineEdit* m_pPassword;
    QLineEdit* m_pPort;
    QRadioButton* m_pSslOn;
    QRadioButton* m_pSslOff;
    QButtonGroup* m_pSslGroup;
    QPushButton* m_pExecute;
    QPushButton* m_pCancel;
    QLabel* m_pReason = nullptr;
};

}  // namespace lanrove::ui
