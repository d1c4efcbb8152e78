#include "ui/login_dialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "runs/ip_setting_rules.h"
#include "support/text.h"

namespace lanrove::ui {

namespace {
constexpr const char16_t* kSection = u"LOGIN_WINDOW";
}

CLogIn::CLogIn(DialogServices services, CameraEntry& workCopy, bool prefilled, LoginTest loginTest,
               QWidget* parent)
    : SettingDialog(services, parent),
      m_work(workCopy),
      m_bPrefilled(prefilled),
      m_loginTest(std::move(loginTest)) {
    setObjectName(QStringLiteral("loginDialog"));
    setWindowTitle(text(kSection, u"LOGIN_TITLE"));

    auto* message = new QLabel(text(kSection, u"LOGIN_MESSAGE"), this);
    message->setWordWrap(true);
    auto* userCaption = new QLabel(text(kSection, u"LOGIN_USER_ID"), this);
    auto* passwordCaption = new QLabel(text(kSection, u"LOGIN_PASSWORD"), this);
    auto* message2 = new QLabel(text(kSection, u"LOGIN_MESSAGE2"), this);
    message2->setWordWrap(true);
    auto* portCaption = new QLabel(text(kSection, u"LOGIN_PORT"), this);
    auto* sslCaption = new QLabel(text(kSection, u"LOGIN_SSL"), this);

    m_pUser = new QLineEdit(this);
    m_pUser->setObjectName(QStringLiteral("user"));
    m_pUser->setMaxLength(kLoginFieldMax);
    m_pPassword = new QLineEdit(this);
    m_pPassword->setObjectName(QStringLiteral("password"));
    m_pPassword->setMaxLength(kLoginFieldMax);
    m_pPassword->setEchoMode(QLineEdit::Password);
    m_pPort = new QLineEdit(this);
    m_pPort->setObjectName(QStringLiteral("port"));
    m_pPort->setMaxLength(kPortFieldMax);
    // Digits only, as typed; the port rule itself is checked on Execute.
    m_pPort->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_pPort));
    m_pSslOn = new QRadioButton(text(kSection, u"LOGIN_ON"), this);
    m_pSslOff = new QRadioButton(text(kSection, u"LOGIN_OFF"), this);
    m_pSslGroup = new QButtonGroup(this);
    m_pSslGroup->addButton(m_pSslOn);
    m_pSslGroup->addButton(m_pSslOff);

    m_pExecute = new QPushButton(text(kSection, u"LOGIN_EXECUTE"), this);
    m_pCancel = new QPushButton(text(kSection, u"LOGIN_CANCEL"), this);
    for (QPushButton* b : {m_pExecute, m_pCancel}) b->setAutoDefault(false);

    auto* account = new QFormLayout;
    account->addRow(userCaption, m_pUser);
    account->addRow(passwordCaption, m_pPassword);
    auto* sslRow = new QHBoxLayout;
    sslRow->addWidget(m_pSslOn);
    sslRow->addWidget(m_pSslOff);
    sslRow->addStretch();
    auto* connection = new QFormLayout;
    connection->addRow(portCaption, m_pPort);
    connection->addRow(sslCaption, sslRow);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_pExecute);
    buttons->addWidget(m_pCancel);
    auto* column = new QVBoxLayout(this);
    m_pReason = new QLabel(this);
    m_pReason->setObjectName(QStringLiteral("loginReason"));
    m_pReason->setWordWrap(true);
    m_pReason->hide();
    column->addWidget(m_pReason);
    column->addWidget(message);
    column->addLayout(account);
    column->addWidget(message2);
    column->addLayout(connection);
    column->addLayout(buttons);

    addControl(kIdLoginExecute, m_pExecute);
    addControl(kIdLoginSecondMessage, message2);
    addControl(kIdLoginUserCaption, userCaption);
    addControl(kIdLoginPasswordCaption, passwordCaption);
    addControl(kIdLoginMessage, message);
    addControl(kIdLoginUserEdit, m_pUser);
    addControl(kIdLoginPasswordEdit, m_pPassword);
    addControl(kIdLoginCancel, m_pCancel);
    addControl(kIdLoginPortCaption, portCaption);
    addControl(kIdLoginSslCaption, sslCaption);
    addControl(kIdLoginPortEdit, m_pPort);
    addControl(kIdLoginSslOn, m_pSslOn);
    addControl(kIdLoginSslOff, m_pSslOff);

    if (m_bPrefilled) {
        m_pUser->setText(fieldQString(m_work.szUser));
        m_pPassword->setText(fieldQString(m_work.szPassword));
    }
    // Shown with the defaults filled in; the work copy itself changes only on OK.
    const QString port =
        fieldEmpty(m_work.szPort) ? QStringLiteral("80") : fieldQString(m_work.szPort);
    const bool ssl = !fieldEmpty(m_work.szSsl) && fieldView(m_work.szSsl) != u"0";
    m_pPort->setText(port);
    (ssl ? m_pSslOn : m_pSslOff)->setChecked(true);

    connect(m_pSslOn, &QRadioButton::clicked, this, [this] { m_pPort->setText("443"); });
    connect(m_pSslOff, &QRadioButton::clicked, this, [this] { m_pPort->setText("80"); });
    connect(m_pExecute, &QPushButton::clicked, this, &CLogIn::onExecute);
    connect(m_pCancel, &QPushButton::clicked, this, [this] { finish(QDialog::Rejected); });
}

void CLogIn::setCameraAndReason(const QString& camera, const QString& reason) {
    setWindowTitle(text(kSection, u"LOGIN_TITLE") + QStringLiteral(" \u2014 ") + camera);
    m_pReason->setText(camera + QLatin1Char('\n') + reason);
    m_pReason->setVisible(true);
}

void CLogIn::onExecute() {
    const std::u16string user = m_pUser->text().toStdU16String();
    const std::u16string password = m_pPassword->text().toStdU16String();
    const std::u16string port = m_pPort->text().toStdU16String();
    const std::string subject = fieldUtf8(m_work.szTitle);
    const LoginCheckResult check = checkLoginFields(user, password, port);
    if (!check.ok) {
        focusControl(check.focus);
        errorEvent("The log in setting is illegal", subject);
        errorBox(u"ERROR_ID_PASSWORD");
        return;
    }
    CameraEntry copy = m_work;
    setField(copy.szUser, std::u16string_view(user));
    setField(copy.szPassword, std::u16string_view(password));
    setField(copy.szPort, std::u16string_view(port));
    setField(copy.szSsl, std::u16string_view(m_pSslOn->isChecked() ? u"1" : u"0"));
    if (!m_bPrefilled) {
        const int result =
            m_loginTest ? callOffGuiThread([this, &copy] { return m_loginTest(copy); }) : 400;
        if (!isVisible()) return;  // a stop request ended the dialog while the request ran
        if (result >= 400) {
            errorEvent("Failed in log in", subject);
            errorBox(u"ERROR_ID_PASSWORD");
            return;
        }
    }
    m_work = copy;
    finish(QDialog::Accepted);
}

}  // namespace lanrove::ui
