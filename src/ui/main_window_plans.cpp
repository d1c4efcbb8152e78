// The main window's "Apply address plan...": the plan file, the checks (off the GUI thread:
// the login tests and the probe take seconds), the preview, then each accepted camera through
// the settings run under its progress window, a second search and the report.
#include <QAction>
#include <QCoreApplication>
#include <QFileDialog>

#include "app/plan_support.h"
#include "ui/main_window.h"
#include "ui/plan_dialog.h"

namespace lanrove::ui {

void MainWindow::installPlanActions() {
    auto* action = new QAction(planText(m_core.texts(), "PLAN_MENU"), this);
    action->setObjectName(QStringLiteral("applyPlanAction"));
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, &MainWindow::onApplyPlan);
    addAction(action);
    m_pList->addAction(action);
    m_pList->setContextMenuPolicy(Qt::ActionsContextMenu);
}

void MainWindow::onApplyPlan() {
    if (!m_bReady || m_bSettingBusy || m_pSearchWindow != nullptr || m_core.resetRunning()) return;
    const QString path =
        QFileDialog::getOpenFileName(this, planText(m_core.texts(), "PLAN_OPEN"), m_lastFolder,
                                     planText(m_core.texts(), "PLAN_FILTER"));
    if (path.isEmpty()) return;
    rememberFolder(path);
    applyPlanFile(path);
}

void MainWindow::applyPlanFile(const QString& path) {
    if (!m_bReady || m_bSettingBusy || m_pSearchWindow != nullptr || m_core.resetRunning()) return;
    const LangTable& texts = m_core.texts();
    AddressPlan plan;
    PlanError error;
    if (!loadAddressPlan(path.toStdString(), plan, error)) {
        const QString where = error.line > 0 ? QStringLiteral("%1, line %2: %3")
                                                   .arg(path)
                                                   .arg(error.line)
                                                   .arg(QString::fromStdString(error.message))
                                             : QStringLiteral("%1: %2").arg(
                                                   path, QString::fromStdString(error.message));
        m_core.log().event("The address plan is illegal", "err", where.toStdString());
        m_messages.show(this, BoxIcon::Warning, text(u"ERROR_WINDOW", u"ERROR_TITLE_ERROR"),
                        planText(texts, "PLAN_BAD_FILE").arg(where));
        return;
    }
    // As a setting button: close refused and a stop request held back until this is over.
    class Scope {
      public:
        explicit Scope(MainWindow& w) : m_w(w), m_bCloseWas(w.m_bCloseEnabled) {
            m_w.m_bSettingBusy = true;
            m_w.m_bCloseEnabled = false;
        }
        ~Scope() {
            m_w.m_bSettingBusy = false;
            m_w.m_bCloseEnabled = m_bCloseWas;
            if (m_w.m_bStopRequested)
                QMetaObject::invokeMethod(
                    &m_w, [w = &m_w] { w->requestStop(); }, Qt::QueuedConnection);
        }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        MainWindow& m_w;
        bool m_bCloseWas;
    } scope(*this);
    m_core.log().trace(1, "Plan Apply(%s) Rows(%d)", path.toStdString().c_str(),
                       static_cast<int>(plan.rows.size()));

    std::vector<PlanRowCheck> checks;
    const PlanCheckContext context = planCheckContext(m_core);
    callOffGuiThread([&] {
        checks = checkAddressPlan(plan, context, m_core.log());
        return 0;
    });
    if (m_bStopRequested) return;
    PlanDialog preview(dialogServices(), checks, PlanDialog::Mode::Preview, this);
    if (openSettingDialog(preview) != QDialog::Accepted) return;

    // One camera after another, each as the manual setting runs it.
    std::vector<bool> succeeded(checks.size(), false);
    for (std::size_t i = 0; i < checks.size(); ++i) {
        PlanRowCheck& c = checks[i];
        if (c.state != PlanRowState::Ready || m_bStopRequested) continue;
        m_core.log().trace(1, "Plan Line(%d) ManualSetting Set(%p)", c.row.line,
                           static_cast<const void*>(this));
        m_core.loginEntry() = c.login;
        m_core.store().m_bSearchEnd = 0;
        SettingsRun& run = m_core.newSettingsRun(m_settingEvents);
        run.prepareManual(c.login, c.after, c.statusWasOk);
        runSettings(run);
        const CameraEntry& now = m_core.store().m_CamTable[static_cast<std::size_t>(c.tableIndex)];
        succeeded[i] =
            now.dwResult == kResultAccepted && fieldView(now.szIp) == fieldView(c.after.szIp);
    }
    if (m_bStopRequested) return;

    // What the next search sees decides between set and CAUTION.
    onSearch();
    for (std::size_t i = 0; i < checks.size(); ++i)
        judgePlanRow(checks[i], succeeded[i], findPlannedCamera(m_core, checks[i].row.mac));
    PlanDialog report(dialogServices(), checks, PlanDialog::Mode::Report, this);
    openSettingDialog(report);
}

}  // namespace lanrove::ui
