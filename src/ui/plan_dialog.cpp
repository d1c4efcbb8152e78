#include "ui/plan_dialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>
#include <string>

#include "app/language.h"
#include "ui/setting_changes.h"

namespace lanrove::ui {

namespace {

constexpr int kListedChanges = 12;  // more rows would push the question's buttons off screen

// Before and after with an arrow where the plan changes a field; a refused row keeps its
// values (nothing will be sent), a row whose camera was not found shows what was planned.
QString fieldCell(const PlanRowCheck& c, std::string (*get)(const CameraEntry&),
                  const std::optional<std::string>& planned) {
    if (c.tableIndex < 0) return planned ? QString::fromStdString(*planned) : QStringLiteral("-");
    QString before = QString::fromStdString(get(c.before));
    const QString after = QString::fromStdString(get(c.after));
    if (c.state == PlanRowState::NotFound || c.state == PlanRowState::Refused || before == after)
        return before;
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
        const PlanRow& p = c.row;
        put(Ip, fieldCell(
                    c, [](const CameraEntry& e) { return fieldUtf8(e.szIp); }, p.ip));
        put(Mask, fieldCell(
                      c, [](const CameraEntry& e) { return fieldUtf8(e.szMask); }, p.mask));
        put(Gateway,
            fieldCell(
                c, [](const CameraEntry& e) { return fieldUtf8(e.szGateway); }, p.gateway));
        put(Port, fieldCell(
                      c, [](const CameraEntry& e) { return fieldUtf8(e.szPort); }, p.port));
        put(Ssl, fieldCell(
                     c,
                     [](const CameraEntry& e) {
                         return std::string(fieldView(e.szSsl) == u"0" ? "OFF" : "ON");
                     },
                     p.ssl));
        put(Title, fieldCell(
                       c, [](const CameraEntry& e) { return fieldUtf8(e.szTitle); }, p.title));
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
        // The reason reads in full on every cell of the row, and wrapped in its own column.
        for (int col = 0; col < ColumnCount; ++col)
            if (QTableWidgetItem* item = m_pTable->item(r, col)) item->setToolTip(result);
    }
    m_pTable->setWordWrap(true);
    m_pTable->resizeColumnsToContents();
    m_pTable->setColumnWidth(Result, std::min(m_pTable->columnWidth(Result), 320));
    m_pTable->horizontalHeader()->setStretchLastSection(true);
    m_pTable->resizeRowsToContents();
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
    // Wide enough for every column, the reasons included, as far as the screen allows.
    int wanted = 2 * m_pTable->frameWidth() + 60;
    for (int c = 0; c < ColumnCount; ++c) wanted += m_pTable->columnWidth(c);
    if (const QScreen* s = screen(); s != nullptr)
        wanted = std::min(wanted, s->availableGeometry().width() - 40);
    resize(std::max(900, wanted), 360);
}

void PlanDialog::onExecute() {
    // The setting dialog's confirmation; the stronger one when some camera will be out of
    // reach of this PC afterwards. Below it: how many rows, and what changes on each.
    bool unreachable = false;
    int ready = 0;
    QStringList changes;
    for (const PlanRowCheck& c : m_checks) {
        if (c.state != PlanRowState::Ready) continue;
        unreachable = unreachable || c.unreachableAfter;
        ++ready;
        if (changes.size() < kListedChanges)
            changes << QString::fromStdString(c.row.mac) + QStringLiteral(": ") +
                           settingChanges(m_services.texts, c.before, c.after)
                               .join(QStringLiteral(", "));
    }
    if (ready > kListedChanges)
        changes << QStringLiteral("\u2026 (+%1)").arg(ready - kListedChanges);
    const QString count = planText(m_services.texts, "PLAN_CONFIRM_COUNT")
                              .arg(ready)
                              .arg(static_cast<int>(m_checks.size()));
    const BoxAnswer answer = m_services.messages.show(
        this, BoxIcon::NoIcon, planText(m_services.texts, "PLAN_CONFIRM_TITLE"),
        text(u"CUSTOM_SETTING_WINDOW",
             unreachable ? u"CUSTOM_SETTING_MSG2" : u"CUSTOM_SETTING_MSG1") +
            QStringLiteral("\n\n") + count + QLatin1Char('\n') + changes.join(QLatin1Char('\n')) +
            QStringLiteral("\n\n") + text(u"CUSTOM_SETTING_WINDOW", u"ACCOUNT_IN_CLEAR"),
        BoxButtons::YesNo);
    if (answer == BoxAnswer::Yes) finish(QDialog::Accepted);
}

}  // namespace lanrove::ui
