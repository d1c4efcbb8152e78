#pragma once
// What the IP-setting dialogs share: texts from the text table, the event line and the error
// box of a failed check, a title bar without Close (the dialogs end only by their buttons),
// Enter and Esc swallowed, and a blocking call that keeps the window painting.

#include <QDialog>
#include <QString>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "app/lang_table.h"
#include "support/text.h"
#include "support/trace_log.h"
#include "ui/message_layer.h"

namespace lanrove::ui {

// The services a setting dialog uses; all outlive the dialog.
struct DialogServices {
    const LangTable& texts;
    TraceLog& log;
    MessageLayer& messages;
};

class SettingDialog : public QDialog {
    Q_OBJECT
  public:
    // The control with a dialog's control id (fields, buttons), or null.
    QWidget* control(int id) const;
    // The program is ending: the dialog goes as its Cancel button would take it.
    virtual void abandon() { finish(QDialog::Rejected); }

  protected:
    SettingDialog(DialogServices services, QWidget* parent);

    QString text(std::u16string_view section, std::u16string_view key) const;
    // Event line of kind "err" with `subject` (UTF-8).
    void errorEvent(const char* message, std::string_view subject);
    // Warning box with one OK button: ERROR_WINDOW/`key` under ERROR_WINDOW/ERROR_TITLE_ERROR.
    void errorBox(std::u16string_view key);
    // Puts the keyboard focus on a control by its id.
    void focusControl(int id);
    void addControl(int id, QWidget* widget) { m_controls[id] = widget; }
    // Closes the dialog on behalf of the program (a button), never refused.
    void finish(int result);

    void closeEvent(QCloseEvent* event) override;

    DialogServices m_services;

  private:
    std::map<int, QWidget*> m_controls;
    bool m_bClosingByProgram = false;
};

// A fixed-width record field as a Qt string.
template <std::size_t N>
QString fieldQString(const char16_t (&field)[N]) {
    return QString::fromStdU16String(std::u16string(fieldView(field)));
}

// Runs `work` (which must end within its own time-out) on a thread of its own and returns its
// result. Meanwhile the wait cursor shows and the GUI thread goes on painting but takes no
// input. The thread has ended when this returns.
int callOffGuiThread(const std::function<int()>& work);

}  // namespace lanrove::ui
