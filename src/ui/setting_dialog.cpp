#include "ui/setting_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <thread>

#include "support/text.h"
#include "ui/key_guard.h"

namespace lanrove::ui {

SettingDialog::SettingDialog(DialogServices services, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint),
      m_services(services) {
    setModal(true);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    new KeyGuard(this);
}

QWidget* SettingDialog::control(int id) const {
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

QString SettingDialog::text(std::u16string_view section, std::u16string_view key) const {
    return QString::fromStdU16String(m_services.texts.lookup(section, key));
}

void SettingDialog::errorEvent(const char* message, std::string_view subject) {
    m_services.log.event(message, "err", subject);
}

void SettingDialog::errorBox(std::u16string_view key) {
    m_services.messages.show(this, BoxIcon::Warning, text(u"ERROR_WINDOW", u"ERROR_TITLE_ERROR"),
                             text(u"ERROR_WINDOW", key), BoxButtons::Ok);
}

void SettingDialog::focusControl(int id) {
    if (QWidget* w = control(id)) w->setFocus(Qt::OtherFocusReason);
}

void SettingDialog::finish(int result) {
    m_bClosingByProgram = true;
    done(result);
    m_bClosingByProgram = false;
}

void SettingDialog::closeEvent(QCloseEvent* event) {
    // Close is not offered: a close request from the system is refused.
    if (!m_bClosingByProgram) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

int callOffGuiThread(const std::function<int()>& work) {
    QEventLoop loop;
    int result = 0;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    std::thread worker([&] {
        result = work();
        // Queued: the loop quits once it runs, also when the work ended before it started.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    QApplication::restoreOverrideCursor();
    return result;
}

}  // namespace lanrove::ui
