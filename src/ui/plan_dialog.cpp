#include "ui/plan_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QVBoxLayout>
#include <string>

#include "app/language.h"

namespace lanrove::ui {

namespace {

QString fieldCell(const PlanRowCheck& c, std::string (*get)(const CameraEntry&)) {
    if (c.tableIndex < 0) return QStringLiteral("-");
    QString before = QString::fromStdString(get(c.before));
    const QString after = QString::fromStdString(get(c.after));
    if (c.state == PlanRowState::NotFound || before == after) return before;
    return before + QStringLiteral(" \u2192 ") + after;
}

}  // namespace

QString planText(const LangTable& texts, const char* key) {
    const std::u16string name = fromUtf8(key);
    const std::u16string own = texts.lookup(u"PLAN_WINDOW", name);
    if (!own.empty()) return QString::fromStdU16String(own);
    // A table without the added texts: the English ones.
    for (const LangEntry& e : addedDefaults(kColumnEnglish))
        if (e.section == u"PLAN_WINDOW" && e.key == name)
            return QString::fromStdU16String(LangTable::expandLineBreaks(e.text));
    return {};
}

PlanDialog::PlanDialog(DialogServices services, const std::vector<PlanRowCheck>& checks, Mode mode,
                       QWidget* parent)
    : SettingDialog(services, parent), m_checks(checks) {
    setObjectName(mode == Mode::Preview ? QStringLiteral("planPreview")
                                        : QStringLiteral("planReport"));
    const LangTable& t = m_services.texts;
    setWindowTitle(planText(t, "PLAN_TITLE"));

    int ready = 0;
    int set = 0;
    for (const PlanRowCheck& c : checks) {
        ready += c.state == PlanRowState::Ready ? 1 : 0;
        set += c.state == PlanRowState::Set ? 1 : 0;
    }
    auto* message = new QLabel(planText(t, mode == Mode::Preview ? "PLAN_MESSAGE" : "PLAN_REPORT")
                                   .arg(mode == Mode::Preview ? ready : set)
                                   .arg(static_cast<int>(checks.size())),
                               this);

    m_pTable = new QTableWidget(static_cast<int>(checks.size()), ColumnCount, this);
    m_pTable->setObjectName(QStringLiteral("planTable"));
    m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTable->setSelectionMode(QAbstractItemView::NoSelection);
    m_pTable->verticalHeader()->hide();
    m_pTable->setHorizontalHeaderLabels(
        {planText(t, "PLAN_LINE"), text(u"MAIN_WINDOW", u"MAIN_CAMERA_MAC_ADDRESS"),
         text(u"MAIN_WINDOW", u"MAIN_CAMERA_NO"), text(u"MAIN_WINDOW", u"MAIN_CAMERA_IP_ADDRESS"),
         text(u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_SUBNET_MASK"),
         text(u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_GATEWAY"),
         text(u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_PORT"),
         text(u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_SSL"),
         text(u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_CAMERA_TITLE"),
         planText(t, "PLAN_RESULT")});
    for (int r = 0; r < static_cast<int>(checks.size()); ++r) {
        const PlanRowCheck& c = checks[static_cast<std::size_t>(r)];
        const auto put = [this, r](int column, const QString& value) {
            m_pTable->setItem(r, column, new QTableWidgetItem(value));
        };
        put(Line, QString::number(c.row.line));
        put(Mac, QString::fromStdString(c.row.mac));
        put(No, c.tableIndex >= 0 ? fieldQString(c.before.szNo) : QStringLiteral("-"));
        put(Ip, fieldCell(c, [](const CameraEntry& e) { return fieldUtf8(e.szIp); }));
        put(Mask, fieldCell(c, [](const CameraEntry& e) { return fieldUtf8(e.szMask); }));
        put(Gateway, fieldCell(c, [](const CameraEntry& e) { return fieldUtf8(e.szGateway); }));
        put(Port, fieldCell(c, [](const CameraEntry& e) { return fieldUtf8(e.szPort); }));
        put(Ssl, fieldCell(c, [](const CameraEntry& e) {
                return std::string(fieldView(e.szSsl) == u"0" ? "OFF" : "ON");
            }));
        put(Title, fieldCell(c, [](const CameraEntry& e) { return fieldUtf8(e.szTitle); }));
        QString result;
        switch (c.state) {
            case PlanRowState::Ready:
                result = planText(t, "PLAN_READY");
                break;
            case PlanRowState::NotFound:
                result = planText(t, "PLAN_NOT_FOUND");
                break;
            case PlanRowState::Refused:
                result = planText(t, "PLAN_REFUSED") + QStringLiteral(": ") +
                         QString::fromStdString(c.message);
                break;
            case PlanRowState::Set:
                result = planText(t, "PLAN_SET");
                break;
            case PlanRowState::Caution:
                result = planText(t, "PLAN_CAUTION") + QStringLiteral(": ") +
                         QString::fromStdString(c.message);
                break;
            case PlanRowState::Unchanged:
                result = planText(t, "PLAN_UNCHANGED");
                break;
        }
        put(Result, result);
    }
    m_pTable->resizeColumnsToContents();
    addControl(kIdPlanTable, m_pTable);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    if (mode == Mode::Preview) {
        m_pExecute =
            new QPushButton(text(u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_EXECUTE"), this);
        m_pExecute->setObjectName(QStringLiteral("execute"));
        m_pExecute->setEnabled(ready > 0);
        m_pCancel = new QPushButton(text(u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_CANCEL"), this);
        m_pCancel->setObjectName(QStringLiteral("cancel"));
        connect(m_pExecute, &QPushButton::clicked, this, &PlanDialog::onExecute);
        connect(m_pCancel, &QPushButton::clicked, this, [this] { finish(QDialog::Rejected); });
        buttons->addWidget(m_pExecute);
        buttons->addWidget(m_pCancel);
        addControl(kIdPlanExecute, m_pExecute);
        addControl(kIdPlanCancel, m_pCancel);
    } else {
        m_pCancel = new QPushButton(planText(t, "PLAN_OK"), this);
        m_pCancel->setObjectName(QStringLiteral("ok"));
        connect(m_pCancel, &QPushButton::clicked, this, [this] { finish(QDialog::Accepted); });
        buttons->addWidget(m_pCancel);
        addControl(kIdPlanCancel, m_pCancel);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(message);
    layout->addWidget(m_pTable, 1);
    layout->addLayout(buttons);
    resize(900, 360);
}

void PlanDialog::onExecute() {
    // The setting dialog's confirmation; the stronger one when some camera will be out of
    // reach of this PC afterwards.
    bool unreachable = false;
    for (const PlanRowCheck& c : m_checks)
        unreachable = unreachable || (c.state == PlanRowState::Ready && c.unreachableAfter);
    const BoxAnswer answer = m_services.messages.show(
        this, BoxIcon::NoIcon, text(u"CUSTOM_SETTING_WINDOW", u"CUSTOM_SETTING_TITLE"),
        text(u"CUSTOM_SETTING_WINDOW",
             unreachable ? u"CUSTOM_SETTING_MSG2" : u"CUSTOM_SETTING_MSG1") +
            QStringLiteral("\n\n") + text(u"CUSTOM_SETTING_WINDOW", u"ACCOUNT_IN_CLEAR"),
        BoxButtons::YesNo);
    if (answer == BoxAnswer::Yes) finish(QDialog::Accepted);
}

}  // namespace lanrove::ui
