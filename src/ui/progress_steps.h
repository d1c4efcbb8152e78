#pragma once
// Steps that the search window and the settings progress window share.

#include <QApplication>
#include <QProgressBar>

namespace lanrove::ui {

// The bar creeps one step a tick and starts again after 100 steps; it measures nothing.
inline void creepProgressBar(QProgressBar& bar, int& progress) {
    if (progress <= 100) {
        bar.setValue(progress);
        ++progress;
    } else {
        progress = 0;
    }
}

// Shows or removes the wait cursor; `shown` keeps the override stack balanced however often
// either is asked for.
inline void setOverrideWaitCursor(bool& shown, bool on) {
    if (on == shown) return;
    shown = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

}  // namespace lanrove::ui
