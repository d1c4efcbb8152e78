#include "ui/logo_painter.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>
#include <algorithm>

namespace lanrove::ui {

namespace {

const QColor kBlue(0x1d, 0x4e, 0x89);
const QColor kTeal(0x2a, 0x9d, 0x8f);

// A rounded camera body with a lens, filling a square.
void paintLens(QPainter& p, const QRectF& square) {
    const double s = square.width();
    QRectF body = square.adjusted(s * 0.04, s * 0.18, -s * 0.04, -s * 0.12);
    QLinearGradient bodyFill(body.topLeft(), body.bottomLeft());
    bodyFill.setColorAt(0.0, kBlue.lighter(130));
    bodyFill.setColorAt(1.0, kBlue);
    p.setPen(Qt::NoPen);
    p.setBrush(bodyFill);
    p.drawRoundedRect(body, s * 0.14, s * 0.14);
    // The viewfinder bump on top.
    p.drawRoundedRect(QRectF(square.left() + s * 0.14, square.top() + s * 0.06, s * 0.28, s * 0.18),
                      s * 0.05, s * 0.05);
    const QPointF centre = body.center();
    const double r = body.height() * 0.36;
    p.setBrush(Qt::white);
    p.drawEllipse(centre, r * 1.18, r * 1.18);
    QRadialGradient glass(centre - QPointF(r * 0.3, r * 0.3), r * 1.2);
    glass.setColorAt(0.0, kTeal.lighter(160));
    glass.setColorAt(0.6, kTeal);
    glass.setColorAt(1.0, kBlue.darker(150));
    p.setBrush(glass);
    p.drawEllipse(centre, r, r);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(centre - QPointF(r * 0.35, r * 0.35), r * 0.2, r * 0.2);
}

}  // namespace

void paintLogo(QPainter& p, const QRectF& area) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const double side = std::min(area.height(), area.width() * 0.3);
    const QRectF lens(area.left(), area.center().y() - side / 2, side, side);
    paintLens(p, lens);

    const QRectF words(lens.right() + side * 0.2, area.top(),
                       area.right() - lens.right() - side * 0.2, area.height());
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(std::max(8, static_cast<int>(area.height() * 0.5)));
    font.setLetterSpacing(QFont::PercentageSpacing, 104);
    // Shrink the word mark until it fits the space left of the lens.
    while (font.pixelSize() > 8 &&
           QFontMetricsF(font).horizontalAdvance(QStringLiteral("LANROVE")) > words.width())
        font.setPixelSize(font.pixelSize() - 1);
    p.setFont(font);
    p.setPen(kBlue);
    p.drawText(words, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("LANROVE"));
    // A thin accent line under the word mark.
    const double base = area.center().y() + QFontMetricsF(font).ascent() * 0.55;
    p.setPen(QPen(kTeal, std::max(1.0, area.height() * 0.05)));
    p.drawLine(
        QPointF(words.left(), base),
        QPointF(words.left() + QFontMetricsF(font).horizontalAdvance(QStringLiteral("LANROVE")),
                base));
    p.restore();
}

QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        paintLens(p, QRectF(0, 0, size, size));
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace lanrove::ui
