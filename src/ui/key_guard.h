#pragma once
// Swallows Enter and Esc for one window and everything inside it before any of its widgets
// sees them, so that neither presses a button nor closes the window.

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace lanrove::ui {

class KeyGuard final : public QObject {
    Q_OBJECT
  public:
    // Installs itself on the application; removed again when `window` goes away.
    explicit KeyGuard(QWidget* window);
    ~KeyGuard() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QPointer<QWidget> m_window;
};

}  // namespace lanrove::ui
