#include "ui/auto_setting_dialog.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "runs/ip_setting_rules.h"

namespace lanrove::ui {

namespace {
constexpr const char16_t* kSection = u"AUTO_SETTING_WINDOW";
}

CLanroveSet::CLanroveSet(DialogServices services, const AdapterEntry& adapter, QWidget* parent)
    : SettingDialog(services, parent), m_adapter(adapter) {
    setObjectName(QStringLiteral("autoSettingDialog"));
    setWindowTitle(text(kSection, u"AUTO_SETTING_TITLE"));

    auto* message = new QLabel(text(kSection, u"AUTO_SETTING_MESSAGE"), this);
    message->setWordWrap(true);
    auto* range = new QGroupBox(text(kSection, u"AUTO_SETTING_AUTO_SETUP_RANGE"), this);
    auto* from = new QLabel(text(kSection, u"AUTO_SETTING_FROM"), range);
    auto* to = new QLabel(text(kSection, u"AUTO_SETTING_TO"), range);
    m_pStart = new IpAddressEdit(range);
    m_pStart->setObjectName(QStringLiteral("startAddress"));
    m_pEnd = new IpAddressEdit(range);
    m_pEnd->setObjectName(QStringLiteral("endAddress"));
    auto* grid = new QGridLayout(range);
    grid->addWidget(from, 0, 0);
    grid->addWidget(m_pStart, 0, 1);
    grid->addWidget(to, 0, 2);
    grid->addWidget(m_pEnd, 0, 3);

    m_pExecute = new QPushButton(text(kSection, u"AUTO_SETTING_EXECUTE"), this);
    m_pCancel = new QPushButton(text(kSection, u"AUTO_SETTING_CANCEL"), this);
    for (QPushButton* b : {m_pExecute, m_pCancel}) b->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_pExecute);
    buttons->addWidget(m_pCancel);

    auto* column = new QVBoxLayout(this);
    column->addWidget(message);
    column->addWidget(range);
    column->addLayout(buttons);

    addControl(kIdAutoStart, m_pStart);
    addControl(kIdAutoEnd, m_pEnd);
    addControl(kIdAutoExecute, m_pExecute);
    addControl(kIdAutoCancel, m_pCancel);
    addControl(kIdAutoMessage, message);
    addControl(kIdAutoRangeCaption, range);
    addControl(kIdAutoFromCaption, from);
    addControl(kIdAutoToCaption, to);

    m_pStart->setAddressText(autoStartPrefill(m_adapter));
    connect(m_pStart, &IpAddressEdit::addressChanged, this, &CLanroveSet::onStartChanged);
    connect(m_pExecute, &QPushButton::clicked, this, &CLanroveSet::onExecute);
    connect(m_pCancel, &QPushButton::clicked, this, [this] { finish(QDialog::Rejected); });
}

void CLanroveSet::onStartChanged() {
    const std::uint32_t x = m_pStart->address();
    if (x == 0) return;
    const std::uint32_t clamped = clampAutoStart(m_adapter, x);
    // The clamped address lies inside the subnet, so the change it causes stops here.
    if (clamped != x) m_pStart->setAddress(clamped);
}

void CLanroveSet::onExecute() {
    AutoRangeResult result =
        checkAutoRange(m_adapter, m_pStart->addressText(), m_pEnd->addressText());
    if (result.check != SettingCheck::Ok) {
        errorEvent(result.eventMessage, "");
        focusControl(result.focus);
        errorBox(result.check == SettingCheck::HostPart ? u"ERROR_IP" : u"ERROR_ID_PASSWORD");
        return;
    }
    m_candidates = std::move(result.candidates);
    finish(QDialog::Accepted);
}

}  // namespace lanrove::ui
