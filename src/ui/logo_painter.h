#pragma once
// The program's own logo and window icon, drawn rather than shipped as pictures.

#include <QIcon>

class QPainter;
class QRectF;

namespace lanrove::ui {

// A camera lens beside the word mark, fitted into `area`.
void paintLogo(QPainter& painter, const QRectF& area);
// The lens alone, for the window icon.
QIcon programIcon();

}  // namespace lanrove::ui
