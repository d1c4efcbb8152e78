#include "report/pdf_writer.h"

#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include "support/private_file.h"

namespace lanrove {

namespace {

// Thumbnails keep 320 pixels; printed 80 points wide they stay sharp.
constexpr int kThumbnailWidth = 320;
constexpr double kPictureWidth = 80;
constexpr double kPictureMaxHeight = 60;
constexpr double kPad = 3;
constexpr double kFindingIndent = 14;
constexpr double kWrapColumnCap = 260;

void ensureApplication() {
    if (QCoreApplication::instance() != nullptr) return;
    // A command-line tool has no display to count on.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "lanrove-report";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QGuiApplication> app = std::make_unique<QGuiApplication>(argc, argv);
}

QString q(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// Greedy line filling at spaces. "gw" and the address after it are one word; a word wider
// than the line (a long title) is cut by characters, never a MAC or IP address, whose columns
// are as wide as their longest entry.
std::vector<QString> wrapText(const QString& text, const QFontMetricsF& fm, double width) {
    std::vector<QString> lines;
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        QStringList words = paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (qsizetype i = 0; i + 1 < words.size(); ++i)
            if (words[i] == QLatin1String("gw")) {
                words[i] += QLatin1Char(' ') + words[i + 1];
                words.removeAt(i + 1);
            }
        QString line;
        for (QString word : words) {
            const QString joined = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
            if (fm.horizontalAdvance(joined) <= width) {
                line = joined;
                continue;
            }
            if (!line.isEmpty()) lines.push_back(line);
            line.clear();
            while (fm.horizontalAdvance(word) > width && word.size() > 1) {
                qsizetype n = 1;
                while (n < word.size() && fm.horizontalAdvance(word.left(n + 1)) <= width) ++n;
                lines.push_back(word.left(n));
                word.remove(0, n);
            }
            line = word;
        }
        lines.push_back(line);
    }
    if (lines.empty()) lines.emplace_back();
    return lines;
}

std::vector<QString> splitLines(const QString& text) {
    const QStringList lines = text.split(QLatin1Char('\n'));
    return {lines.begin(), lines.end()};
}

struct Cell {
    std::vector<QString> lines;
    QColor color = Qt::black;
};

struct Table {
    std::vector<QString> header;
    std::vector<double> widths;
    std::vector<bool> wraps;
};

class ReportPrinter {
  public:
    ReportPrinter(const SiteReportData& d, QPaintDevice& device, QRectF body)
        : m_d(d), m_device(device), m_page(body) {
        m_body.setPointSizeF(8);
        m_bold = m_body;
        m_bold.setBold(true);
        m_small.setPointSizeF(7.5);
        m_heading = m_bold;
        m_heading.setPointSizeF(11);
        m_title = m_bold;
        m_title.setPointSizeF(14);
        for (const SiteReportRow& r : d.rows) {
            QImage image;
            if (!r.snapshot.empty() &&
                r.snapshot.size() < static_cast<std::size_t>(std::numeric_limits<int>::max()))
                image.loadFromData(reinterpret_cast<const uchar*>(r.snapshot.data()),
                                   static_cast<int>(r.snapshot.size()), "JPEG");
            if (!image.isNull() && image.width() > kThumbnailWidth)
                image = image.scaledToWidth(kThumbnailWidth, Qt::SmoothTransformation);
            m_anyPicture = m_anyPicture || !image.isNull();
            m_pictures.push_back(std::move(image));
        }
    }

    // Lays the report out; with a painter it also draws it. Returns the number of pages.
    int run(QPainter* painter, QPdfWriter* writer, int pages) {
        m_p = painter;
        m_writer = writer;
        m_pages = pages;
        m_pageNo = 0;
        m_table = nullptr;
        startPage();
        summary();
        cameras();
        changes();
        return m_pageNo;
    }

  private:
    QString label(const char* key) const { return q(reportLabel(m_d, key)); }
    double bottom() const { return m_page.bottom() - footerHeight(); }
    double footerHeight() const { return QFontMetricsF(m_body, &m_device).lineSpacing() + 6; }
    double lineHeight(const QFont& f) const { return QFontMetricsF(f, &m_device).lineSpacing(); }

    void startPage() {
        if (m_p != nullptr && m_pageNo > 0) m_writer->newPage();
        ++m_pageNo;
        const QFontMetricsF fm(m_body, &m_device);
        const double top = m_page.top();
        if (m_p != nullptr) {
            m_p->setPen(Qt::black);
            m_p->setFont(m_bold);
            const QString left = label("TITLE") + QStringLiteral(" \u2014 ") + q(m_d.site);
            m_p->drawText(QPointF(m_page.left(), top + fm.ascent()), left);
            m_p->setFont(m_body);
            const QString when = q(m_d.when);
            m_p->drawText(QPointF(m_page.right() - fm.horizontalAdvance(when), top + fm.ascent()),
                          when);
            m_p->setPen(QPen(Qt::gray, 0.5));
            m_p->drawLine(QPointF(m_page.left(), top + fm.lineSpacing() + 2),
                          QPointF(m_page.right(), top + fm.lineSpacing() + 2));
            const double fy = m_page.bottom() - fm.descent();
            m_p->setPen(Qt::black);
            m_p->drawText(QPointF(m_page.left(), fy), QStringLiteral("Lanrove Setup"));
            const QString page = q(reportPageLine(m_d, m_pageNo, m_pages));
            m_p->drawText(QPointF(m_page.right() - fm.horizontalAdvance(page), fy), page);
        }
        m_y = top + fm.lineSpacing() + 10;
        if (m_table != nullptr) drawRow(*m_table, headerCells(*m_table), true, {});
    }

    // A new page when `height` does not fit below the cursor (and the cursor is not already
    // at the top, so that an outsized row cannot loop).
    void fit(double height) {
        const double top = m_page.top() + lineHeight(m_body) + 10 +
                           (m_table != nullptr ? headerHeight(*m_table) : 0);
        if (m_y + height > bottom() && m_y > top + 0.5) startPage();
    }

    std::vector<Cell> headerCells(const Table& t) const {
        std::vector<Cell> cells;
        const QFontMetricsF fm(m_bold, &m_device);
        for (std::size_t c = 0; c < t.header.size(); ++c)
            cells.push_back({wrapText(t.header[c], fm, t.widths[c] - 2 * kPad)});
        return cells;
    }
    double headerHeight(const Table& t) const { return rowHeight(headerCells(t), 0); }

    double rowHeight(const std::vector<Cell>& cells, double picture) const {
        std::size_t lines = 1;
        for (const Cell& c : cells) lines = std::max(lines, c.lines.size());
        return std::max(static_cast<double>(lines) * lineHeight(m_body), picture) + 2 * kPad;
    }

    void drawRow(const Table& t, const std::vector<Cell>& cells, bool header, const QImage& picture,
                 double pictureHeight = 0) {
        const double h = rowHeight(cells, pictureHeight);
        if (m_p != nullptr) {
            double x = m_page.left();
            const QFontMetricsF fm(header ? m_bold : m_body, &m_device);
            m_p->setFont(header ? m_bold : m_body);
            for (std::size_t c = 0; c < t.widths.size(); ++c) {
                const QRectF box(x, m_y, t.widths[c], h);
                if (header) m_p->fillRect(box, QColor(0xdd, 0xdd, 0xdd));
                m_p->setPen(QPen(Qt::gray, 0.5));
                m_p->drawRect(box);
                if (c < cells.size()) {
                    m_p->setPen(cells[c].color);
                    double y = m_y + kPad + fm.ascent();
                    for (const QString& line : cells[c].lines) {
                        m_p->drawText(QPointF(x + kPad, y), line);
                        y += fm.lineSpacing();
                    }
                } else if (!picture.isNull()) {
                    m_p->drawImage(QRectF(x + kPad, m_y + kPad, kPictureWidth, pictureHeight),
                                   picture);
                }
                x += t.widths[c];
            }
        }
        m_y += h;
    }

    // Widths: columns that never wrap get their longest entry; the others share the rest in
    // proportion to their longest line.
    Table layoutTable(std::vector<QString> header, const std::vector<std::vector<QString>>& rows,
                      std::vector<bool> wraps, double extra) const {
        Table t{std::move(header), {}, std::move(wraps)};
        const QFontMetricsF fm(m_body, &m_device);
        const QFontMetricsF fb(m_bold, &m_device);
        const std::size_t n = t.header.size();
        std::vector<double> natural(n), least(n);
        for (std::size_t c = 0; c < n; ++c) {
            double head = 0;
            for (const QString& w : t.header[c].split(QLatin1Char(' ')))
                head = std::max(head, fb.horizontalAdvance(w));
            natural[c] = t.wraps[c] ? head : fb.horizontalAdvance(t.header[c]);
            least[c] = std::max(head, t.wraps[c] ? 40.0 : 0.0);
            for (const auto& row : rows)
                if (c < row.size())
                    for (const QString& line : row[c].split(QLatin1Char('\n')))
                        natural[c] = std::max(natural[c], fm.horizontalAdvance(line));
            if (t.wraps[c]) natural[c] = std::min(std::max(natural[c], least[c]), kWrapColumnCap);
            natural[c] += 2 * kPad + 1;
            least[c] += 2 * kPad + 1;
        }
        double fixed = extra, wanted = 0;
        for (std::size_t c = 0; c < n; ++c) (t.wraps[c] ? wanted : fixed) += natural[c];
        const double room = std::max(0.0, m_page.width() - fixed);
        t.widths.resize(n);
        for (std::size_t c = 0; c < n; ++c) {
            if (!t.wraps[c]) {
                t.widths[c] = natural[c];
                continue;
            }
            // The wrapping columns fill the page's width so the table reads as one block.
            t.widths[c] = std::max(least[c], wanted > 0 ? room * natural[c] / wanted : least[c]);
        }
        if (extra > 0) t.widths.push_back(extra);
        return t;
    }

    std::vector<Cell> cellsOf(const Table& t, const std::vector<QString>& texts) const {
        std::vector<Cell> cells;
        const QFontMetricsF fm(m_body, &m_device);
        for (std::size_t c = 0; c < texts.size(); ++c)
            cells.push_back({t.wraps[c] ? wrapText(texts[c], fm, t.widths[c] - 2 * kPad)
                                        : splitLines(texts[c])});
        return cells;
    }

    void heading(const QString& text, double keepWith) {
        const double h = lineHeight(m_heading) + 6;
        fit(h + keepWith);
        if (m_p != nullptr) {
            m_p->setPen(Qt::black);
            m_p->setFont(m_heading);
            m_p->drawText(
                QPointF(m_page.left(), m_y + QFontMetricsF(m_heading, &m_device).ascent()), text);
        }
        m_y += h;
    }

    void summary() {
        heading(label("TITLE"), 0);
        QString counters = label("TOTAL") + QLatin1Char(' ') + QString::number(m_d.total);
        counters +=
            QStringLiteral("   ") + label("NEW") + QLatin1Char(' ') + QString::number(m_d.newCount);
        counters +=
            QStringLiteral("   ") + label("OK") + QLatin1Char(' ') + QString::number(m_d.ok);
        counters += QStringLiteral("   ") + label("CAUTION") + QLatin1Char(' ') +
                    QString::number(m_d.attention);
        QStringList adapters;
        for (const std::string& a : reportAdapterLines(m_d)) adapters << q(a);
        QStringList pc;
        for (const std::string& f : m_d.pcFindings) pc << q(f);
        const std::vector<std::vector<QString>> rows = {
            {label("SITE"), q(m_d.site)},
            {label("WHEN"), q(m_d.when)},
            {label("ADAPTER"), adapters.join(QLatin1Char('\n'))},
            {label("COUNTERS"), counters},
            {label("PC_FINDINGS"), pc.isEmpty() ? label("NONE") : pc.join(QLatin1Char('\n'))}};
        Table t = layoutTable({QString(), QString()}, rows, {false, true}, 0);
        for (const auto& row : rows) {
            std::vector<Cell> cells = cellsOf(t, row);
            fit(rowHeight(cells, 0));
            drawRow(t, cells, false, {});
        }
        m_y += 8;
    }

    void cameras() {
        const std::vector<QString> header = {label("NO"),  label("STATUS"),    label("MODEL"),
                                             label("MAC"), label("IP"),        label("PORT"),
                                             label("SSL"), label("CAM_TITLE"), label("FIRMWARE")};
        std::vector<std::vector<QString>> rows;
        for (const SiteReportRow& r : m_d.rows)
            rows.push_back({q(r.no), q(r.status), q(r.model), q(r.mac), q(r.ip), q(r.port),
                            q(r.ssl), q(r.title), q(r.firmware)});
        Table t =
            layoutTable(header, rows, {false, false, true, false, false, false, false, true, true},
                        m_anyPicture ? kPictureWidth + 2 * kPad : 0);
        if (m_anyPicture) t.header.push_back(label("PICTURE"));
        const QFontMetricsF fs(m_small, &m_device);
        double tableWidth = 0;
        for (double w : t.widths) tableWidth += w;
        bool first = true;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            std::vector<Cell> cells = cellsOf(t, rows[i]);
            const QImage& picture = m_pictures[i];
            const double ph = picture.isNull()
                                  ? 0
                                  : std::min(kPictureMaxHeight, kPictureWidth * picture.height() /
                                                                    std::max(1, picture.width()));
            // The findings, each wrapped at the table's full width, go with their row.
            std::vector<Cell> findings;
            double fh = 0;
            for (const std::string& f : m_d.rows[i].findings) {
                Cell c{wrapText(q(f), fs, tableWidth - kFindingIndent - 2 * kPad)};
                c.color = f.rfind("error", 0) == 0  ? QColor(0xbb, 0, 0)
                          : f.rfind("info", 0) == 0 ? QColor(0, 0x33, 0x66)
                                                    : QColor(0xaa, 0x66, 0);
                fh += static_cast<double>(c.lines.size()) * fs.lineSpacing();
                findings.push_back(std::move(c));
            }
            if (fh > 0) fh += 2 * kPad;
            const double h = rowHeight(cells, ph) + fh;
            if (first) {
                heading(label("CAMERAS"), headerHeight(t) + h);
                drawRow(t, headerCells(t), true, {});
                m_table = &t;
                first = false;
            } else {
                fit(h);
            }
            drawRow(t, cells, false, picture, ph);
            if (fh > 0) {
                if (m_p != nullptr) {
                    const QRectF box(m_page.left(), m_y, tableWidth, fh);
                    m_p->setPen(QPen(Qt::gray, 0.5));
                    m_p->drawRect(box);
                    m_p->setFont(m_small);
                    double y = m_y + kPad + fs.ascent();
                    for (const Cell& c : findings) {
                        m_p->setPen(c.color);
                        for (const QString& line : c.lines) {
                            m_p->drawText(QPointF(m_page.left() + kFindingIndent + kPad, y), line);
                            y += fs.lineSpacing();
                        }
                    }
                }
                m_y += fh;
            }
        }
        if (first) heading(label("CAMERAS"), 0);
        m_table = nullptr;
        m_y += 8;
    }

    void changes() {
        if (m_d.changes.empty()) {
            heading(label("CHANGES"), lineHeight(m_body));
            if (m_p != nullptr) {
                m_p->setPen(Qt::black);
                m_p->setFont(m_body);
                m_p->drawText(
                    QPointF(m_page.left(), m_y + QFontMetricsF(m_body, &m_device).ascent()),
                    label("NO_CHANGES"));
            }
            m_y += lineHeight(m_body);
            return;
        }
        std::vector<std::vector<QString>> rows;
        for (const ChangeRecord& c : m_d.changes)
            rows.push_back({q(c.time), q(c.kind), q(c.mac), q(c.before),
                            QStringLiteral("\u2192 ") + q(c.after), q(c.result)});
        Table t = layoutTable({label("TIME"), label("KIND"), label("MAC"), label("BEFORE"),
                               label("AFTER"), label("RESULT")},
                              rows, {false, false, false, true, true, true}, 0);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            std::vector<Cell> cells = cellsOf(t, rows[i]);
            const double h = rowHeight(cells, 0);
            if (i == 0) {
                heading(label("CHANGES"), headerHeight(t) + h);
                drawRow(t, headerCells(t), true, {});
                m_table = &t;
            } else {
                fit(h);
            }
            drawRow(t, cells, false, {});
        }
        m_table = nullptr;
    }

    const SiteReportData& m_d;
    QPaintDevice& m_device;
    QRectF m_page;
    QFont m_body, m_bold, m_small, m_heading, m_title;
    std::vector<QImage> m_pictures;
    bool m_anyPicture = false;
    QPainter* m_p = nullptr;
    QPdfWriter* m_writer = nullptr;
    const Table* m_table = nullptr;  // the table whose header each new page repeats
    int m_pages = 0, m_pageNo = 0;
    double m_y = 0;
};

}  // namespace

std::string shrinkPicture(const std::string& jpeg) {
    ensureApplication();
    QImage image;
    if (jpeg.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()) ||
        !image.loadFromData(reinterpret_cast<const uchar*>(jpeg.data()),
                            static_cast<int>(jpeg.size()), "JPEG"))
        return {};
    if (image.width() > kThumbnailWidth)
        image = image.scaledToWidth(kThumbnailWidth, Qt::SmoothTransformation);
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPEG", 85)) return {};
    return std::string(out.constData(), static_cast<std::size_t>(out.size()));
}

bool writeReportPdf(const SiteReportData& data, const std::string& path, std::string& error) {
    ensureApplication();
    // Opened here (private, no symlink following) and handed to the writer as a device.
    const int fd = openPrivateFile(path, PrivateWrite::Truncate);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    QFile out;
    if (!out.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        error = out.errorString().toStdString();
        return false;
    }
    QPdfWriter writer(&out);
    writer.setResolution(72);  // one unit is one point
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape,
                                     QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter));
    writer.setTitle(QString::fromStdString(reportLabel(data, "TITLE")));
    writer.setCreator(QStringLiteral("Lanrove Setup"));
    const QRectF body(QPointF(0, 0), QSizeF(writer.pageLayout().paintRectPoints().size()));
    ReportPrinter printer(data, writer, body);
    const int pages = printer.run(nullptr, nullptr, 0);
    QPainter painter;
    if (!painter.begin(&writer)) {
        error = "the PDF could not be started";
        return false;
    }
    printer.run(&painter, &writer, pages);
    if (!painter.end()) {
        error = out.errorString().toStdString();
        return false;
    }
    out.flush();
    if (out.error() != QFileDevice::NoError) {
        error = out.errorString().toStdString();
        return false;
    }
    return true;
}

}  // namespace lanrove
