#pragma once
// The address plan's window: a table with one line per plan row (camera found or not, before
// -> after for each field, the reason for every refused row). As the preview it has Execute
// and Cancel, and Execute asks the setting dialogs' confirmation through the message layer;
// as the final report it has OK only.

#include <QPushButton>
#include <QTableWidget>
#include <vector>

#include "runs/address_plan.h"
#include "ui/setting_dialog.h"

namespace lanrove::ui {

inline constexpr int kIdPlanTable = 1101;
inline constexpr int kIdPlanExecute = 1038;
inline constexpr int kIdPlanCancel = 1039;

// Plan texts: PLAN_WINDOW/`key` from the text table (a Language.ini may give them), else the
// built-in English.
QString planText(const LangTable& texts, const char* key);

class PlanDialog final : public SettingDialog {
    Q_OBJECT
  public:
    enum class Mode { Preview, Report };
    PlanDialog(DialogServices services, const std::vector<PlanRowCheck>& checks, Mode mode,
               QWidget* parent = nullptr);

    QTableWidget* table() const { return m_pTable; }
    QPushButton* executeButton() const { return m_pExecute; }
    QPushButton* cancelButton() const { return m_pCancel; }

    // The table's columns.
    enum Column { Line, Mac, No, Ip, Mask, Gateway, Port, Ssl, Title, Result, ColumnCount };

  private:
    void onExecute();

    const std::vector<PlanRowCheck>& m_checks;
    QTableWidget* m_pTable = nullptr;
    QPushButton* m_pExecute = nullptr;
    QPushButton* m_pCancel = nullptr;
};

}  // namespace lanrove::ui
