#include "ui/manual_setting_dialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "runs/ip_setting_rules.h"
#include "ui/setting_changes.h"

namespace lanrove::ui {

namespace {
constexpr const char16_t* kSection = u"CUSTOM_SETTING_WINDOW";

QLineEdit* readOnlyEdit(const QString& text, QWidget* parent) {
    auto* edit = new QLineEdit(text, parent);
    edit->setReadOnly(true);
    edit->setFocusPolicy(Qt::NoFocus);
    return edit;
}
}  // namespace

CSetCameraSts::CSetCameraSts(DialogServices services, CameraEntry& workCopy,
                             const AdapterEntry& adapter, QWidget* parent)
    : SettingDialog(services, parent), m_work(workCopy), m_adapter(adapter) {
    setObjectName(QStringLiteral("manualSettingDialog"));
    // The title names the camera, so that the dialog cannot be taken for another one's.
    QString title = text(kSection, u"CUSTOM_SETTING_TITLE");
    const QString camera = QStringLiteral("%1 %2")
                               .arg(fieldQString(m_work.szMac), fieldQString(m_work.szModel))
                               .trimmed();
    if (!camera.isEmpty()) title += QStringLiteral(" - ") + camera;
    setWindowTitle(title);

    static constexpr const char16_t* kCaptions[] = {
        u"CUSTOM_SETTING_NO",          u"CUSTOM_SETTING_MODEL",       u"CUSTOM_SETTING_IP_ADDRESS",
        u"CUSTOM_SETTING_SUBNET_MASK", u"CUSTOM_SETTING_GATEWAY",     u"CUSTOM_SETTING_PORT",
        u"CUSTOM_SETTING_SSL",         u"CUSTOM_SETTING_CAMERA_TITLE"};
    QLabel* captions[std::size(kCaptions)] = {};
    for (std::size_t i = 0; i < std::size(kCaptions); ++i) {
        captions[i] = new QLabel(text(kSection, kCaptions[i]), this);
        addControl(kIdManualCaptionFirst + static_cast<int>(i), captions[i]);
    }

    // The defaults stand in for fields the camera did not report; the work copy itself
    // changes only on Yes.
    const QString port =
        fieldEmpty(m_work.szPort) ? QStringLiteral("80") : fieldQString(m_work.szPort);
    const bool ssl = !fieldEmpty(m_work.szSsl) && fieldView(m_work.szSsl) != u"0";

    auto* no = readOnlyEdit(fieldQString(m_work.szNo), this);
    auto* model = readOnlyEdit(fieldQString(m_work.szModel), this);
    m_pIp = new IpAddressEdit(this);
    m_pIp->setObjectName(QStringLiteral("ip"));
    m_pIp->setAddressText(fieldView(m_work.szIp));
    m_pMask = new IpAddressEdit(this);
    m_pMask->setObjectName(QStringLiteral("mask"));
    m_pMask->setAddressText(fieldView(m_work.szMask));
    m_pGateway = new IpAddressEdit(this);
    m_pGateway->setObjectName(QStringLiteral("gateway"));
    m_pGateway->setAddressText(fieldView(m_work.szGateway));
    m_pPort = new QLineEdit(port, this);
    m_pPort->setObjectName(QStringLiteral("port"));
    m_pPort->setMaxLength(5);
    m_pTitle = new QLineEdit(fieldQString(m_work.szTitle), this);
    m_pTitle->setObjectName(QStringLiteral("title"));
    m_pTitle->setMaxLength(kCameraTitleMax);
    m_pSslOn = new QRadioButton(text(kSection, u"CUSTOM_SETTING_ON"), this);
    m_pSslOff = new QRadioButton(text(kSection, u"CUSTOM_SETTING_OFF"), this);
    m_pSslGroup = new QButtonGroup(this);
    m_pSslGroup->addButton(m_pSslOn);
    m_pSslGroup->addButton(m_pSslOff);
    (ssl ? m_pSslOn : m_pSslOff)->setChecked(true);

    m_pExecute = new QPushButton(text(kSection, u"CUSTOM_SETTING_EXECUTE"), this);
    m_pCancel = new QPushButton(text(kSection, u"CUSTOM_SETTING_CANCEL"), this);
    for (QPushButton* b : {m_pExecute, m_pCancel}) b->setAutoDefault(false);

    auto* sslRow = new QHBoxLayout;
    sslRow->addWidget(m_pSslOn);
    sslRow->addWidget(m_pSslOff);
    sslRow->addStretch();
    auto* form = new QFormLayout;
    form->addRow(captions[0], no);
    form->addRow(captions[1], model);
    form->addRow(captions[2], m_pIp);
    form->addRow(captions[3], m_pMask);
    form->addRow(captions[4], m_pGateway);
    form->addRow(captions[5], m_pPort);
    form->addRow(captions[6], sslRow);
    form->addRow(captions[7], m_pTitle);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_pExecute);
    buttons->addWidget(m_pCancel);
    auto* column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addLayout(buttons);

    addControl(kIdManualNo, no);
    addControl(kIdManualModel, model);
    addControl(kIdManualIp, m_pIp);
    addControl(kIdManualMask, m_pMask);
    addControl(kIdManualGateway, m_pGateway);
    addControl(kIdManualPort, m_pPort);
    addControl(kIdManualTitle, m_pTitle);
    addControl(kIdManualSslOn, m_pSslOn);
    addControl(kIdManualSslOff, m_pSslOff);
    addControl(kIdManualExecute, m_pExecute);
    addControl(kIdManualCancel, m_pCancel);

    connect(m_pSslOn, &QRadioButton::clicked, this, [this] { m_pPort->setText("443"); });
    connect(m_pSslOff, &QRadioButton::clicked, this, [this] { m_pPort->setText("80"); });
    connect(m_pExecute, &QPushButton::clicked, this, &CSetCameraSts::onExecute);
    connect(m_pCancel, &QPushButton::clicked, this, [this] { finish(QDialog::Rejected); });
}

void CSetCameraSts::onExecute() {
    ManualFields fields;
    fields.ip = m_pIp->addressText();
    fields.mask = m_pMask->addressText();
    fields.gateway = m_pGateway->addressText();
    fields.port = m_pPort->text().toStdU16String();
    const ManualCheckResult check = checkManualFields(m_adapter, fields);
    if (check.check != SettingCheck::Ok) {
        focusControl(check.focus);
        errorEvent(check.eventMessage, fieldUtf8(m_work.szTitle));
        switch (check.check) {
            case SettingCheck::HostPart:
                errorBox(u"ERROR_IP");
                break;
            case SettingCheck::Mask:
                errorBox(u"ERROR_SUBNET_MASK");
                break;
            default:
                errorBox(u"ERROR_ID_PASSWORD");
                break;
        }
        return;
    }
    CameraEntry next = m_work;
    setField(next.szIp, std::u16string_view(fields.ip));
    setField(next.szMask, std::u16string_view(fields.mask));
    setField(next.szGateway, std::u16string_view(fields.gateway));
    setField(next.szPort, std::u16string_view(fields.port));
    setField(next.szTitle, std::u16string_view(m_pTitle->text().toStdU16String()));
    setField(next.szSsl, std::u16string_view(m_pSslOn->isChecked() ? u"1" : u"0"));
    // Below the question, what changes (old -> new per field); the setting datagram carries
    // the account unencrypted: said with the question.
    const QStringList changes = settingChanges(m_services.texts, m_work, next);
    QString question =
        text(kSection, check.unreachableAfter ? u"CUSTOM_SETTING_MSG2" : u"CUSTOM_SETTING_MSG1");
    if (!changes.isEmpty()) question += QStringLiteral("\n\n") + changes.join(QLatin1Char('\n'));
    question += QStringLiteral("\n\n") + text(kSection, u"ACCOUNT_IN_CLEAR");
    const BoxAnswer answer =
        m_services.messages.show(this, BoxIcon::NoIcon, text(kSection, u"CUSTOM_SETTING_TITLE"),
                                 question, BoxButtons::YesNo);
    if (answer != BoxAnswer::Yes) return;
    m_work = next;
    finish(QDialog::Accepted);
}

}  // namespace lanrove::ui
