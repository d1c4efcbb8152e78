#pragma once
// Window layouts are given in dialog units: a quarter of the font's average character width
// across, an eighth of its height down. Converting them with the font in use keeps the
// controls' order and relative sizes whatever font the desktop gives us.

#include <QFont>
#include <QFontMetricsF>
#include <QRect>
#include <QSize>
#include <cmath>

namespace lanrove::ui {

class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font) {
        const QFontMetricsF fm(font);
        const QString sample =
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        m_dX = fm.horizontalAdvance(sample) / sample.size() / 4.0;
        m_dY = fm.height() / 8.0;
    }
    int x(int units) const { return static_cast<int>(std::lround(units * m_dX)); }
    int y(int units) const { return static_cast<int>(std::lround(units * m_dY)); }
    QRect rect(int left, int top, int width, int height) const {
        return QRect(x(left), y(top), x(width), y(height));
    }
    QSize size(int width, int height) const { return QSize(x(width), y(height)); }
    double perUnitX() const { return m_dX; }
    double perUnitY() const { return m_dY; }

  private:
    double m_dX = 1.5;
    double m_dY = 1.625;
};

}  // namespace lanrove::ui
