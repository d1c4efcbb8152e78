#include "report/pdf_writer.h"

#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>

#include "support/private_file.h"

namespace lanrove {

namespace {

// Thumbnails are drawn 160 points wide; a smaller copy keeps the file small.
constexpr int kThumbnailWidth = 320;

void ensureApplication() {
    if (QCoreApplication::instance() != nullptr) return;
    // A command-line tool has no display to count on.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "lanrove-report";
    static char* argv[] = {name, nullptr};
    static std::unique_ptr<QGuiApplication> app = std::make_unique<QGuiApplication>(argc, argv);
}

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

bool writeReportPdf(const std::string& html, const std::vector<PdfPicture>& pictures,
                    const std::string& path, std::string& error) {
    ensureApplication();
    QTextDocument doc;
    for (const PdfPicture& p : pictures) {
        QImage image;
        if (!image.loadFromData(reinterpret_cast<const uchar*>(p.jpeg.data()),
                                static_cast<int>(p.jpeg.size()), "JPEG"))
            continue;  // an undecodable picture leaves an empty cell
        if (image.width() > kThumbnailWidth)
            image = image.scaledToWidth(kThumbnailWidth, Qt::SmoothTransformation);
        doc.addResource(QTextDocument::ImageResource, QUrl(QString::fromStdString(p.name)), image);
    }
    doc.setHtml(QString::fromUtf8(html.data(), static_cast<qsizetype>(html.size())));
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
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageOrientation(QPageLayout::Landscape);
    writer.setPageMargins(QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
    writer.setTitle(QStringLiteral("Lanrove Setup site report"));
    writer.setCreator(QStringLiteral("Lanrove Setup"));
    doc.print(&writer);
    return true;
}

}  // namespace lanrove
