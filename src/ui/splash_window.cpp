#include "ui/splash_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include "ui/dialog_units.h"
#include "ui/logo_painter.h"

namespace lanrove::ui {

SplashWindow::SplashWindow(const LangTable& appTexts, const ManualResetEvent* ready,
                           const Clock& clock, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_pReady(ready) {
    setWindowIcon(programIcon());
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);

    const DialogUnits du(font());
    setFixedSize(du.size(148, 79));
    m_logoRect = du.rect(13, 10, 121, 32);

    m_pText = new QLabel(this);
    m_pText->setGeometry(du.rect(16, 54, 113, 18));
    m_pText->setAlignment(Qt::AlignCenter);
    m_pText->setText(QString::fromStdU16String(appTexts.lookup(u"LOGO_WINDOW", u"SUB_TITLE")));
    QFont bold(QStringLiteral("Arial"));
    bold.setStyleHint(QFont::SansSerif);
    bold.setBold(true);
    m_pText->setFont(bold);

    // Centred on the screen where the main window will appear.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    connect(&m_timer, &QTimer::timeout, this, &SplashWindow::onTick);
    m_timer.start(static_cast<int>(clock.scaledMs(kSplashPollMs)));
}

void SplashWindow::onTick() {
    if (m_pReady != nullptr && !m_pReady->waitFor(Millis(10))) return;
    m_timer.stop();
    m_bEnded = true;
    close();
    emit ended();
}

void SplashWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setPen(QColor(0x80, 0x80, 0x80));
    p.drawRect(rect().adjusted(0, 0, -1, -1));  // the thin border of a popup
    paintLogo(p, QRectF(m_logoRect));
}

void SplashWindow::closeEvent(QCloseEvent* event) {
    // Only the ready event ends the splash.
    if (!m_bEnded) {
        event->ignore();
        return;
    }
    event->accept();
}

}  // namespace lanrove::ui
