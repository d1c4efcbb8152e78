#include "ui/key_guard.h"

#include <QApplication>
#include <QKeyEvent>

namespace lanrove::ui {

KeyGuard::KeyGuard(QWidget* window) : QObject(window), m_window(window) {
    qApp->installEventFilter(this);
}

KeyGuard::~KeyGuard() {
    if (qApp != nullptr) qApp->removeEventFilter(this);
}

bool KeyGuard::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride)
        return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Escape) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || m_window.isNull()) return false;
    // Only our window's own widgets: a box or window opened on top keeps its keys.
    if (widget != m_window && widget->window() != m_window) return false;
    return true;
}

}  // namespace lanrove::ui
