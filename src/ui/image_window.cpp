#include "ui/image_window.h"

#include <QEventLoop>
#include <QPainter>
#include <memory>

#include "support/text.h"
#include "ui/dialog_units.h"

namespace lanrove::ui {

QString imageWindowTitle(const CameraEntry& entry) {
    return QString::fromStdU16String(std::u16string(fieldView(entry.szIp)) + u" ( " +
                                     std::u16string(fieldView(entry.szTitle)) + u" ) ");
}

CChangeSts::CChangeSts(Services services, const CameraEntry& entry, FetchFn fetch, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      m_services(services),
      m_entry(entry),
      m_fnFetch(std::move(fetch)) {
    setObjectName(QStringLiteral("imageWindow"));
    setModal(true);
    setWindowTitle(imageWindowTitle(m_entry));
    setFixedSize(DialogUnits(font()).size(320, 240));
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CChangeSts::startFetch);
    // The first picture is asked for as soon as the window runs.
    m_timer.start(0);
}

CChangeSts::~CChangeSts() {
    m_bClosing = true;
    m_timer.stop();
    joinWorker();
}

void CChangeSts::joinWorker() {
    if (m_worker.joinable()) m_worker.join();
}

void CChangeSts::startFetch() {
    if (m_bFetching || m_bClosing || !m_fnFetch) return;
    joinWorker();  // the previous fetch has posted its result: it is ending
    m_bFetching = true;
    m_worker = std::thread([this, entry = m_entry, fetch = m_fnFetch] {
        auto image = std::make_shared<LiveImage>();
        int result = kCgiFailed;
        try {
            result = fetch(entry, *image);
        } catch (...) {
            result = kCgiFailed;
        }
        // The window joins this thread before it goes, so it is alive for the post.
        QMetaObject::invokeMethod(
            this, [this, result, image] { fetched(result, std::move(*image)); },
            Qt::QueuedConnection);
    });
}

void CChangeSts::fetched(int result, LiveImage image) {
    joinWorker();
    m_bFetching = false;
    if (m_bClosing) {
        if (m_pWaitLoop != nullptr) m_pWaitLoop->quit();
        return;
    }
    if (result < kCgiFailed) {
        m_nWide = image.nWide;
        // A picture that does not decode leaves the window empty until the next good one.
        m_picture = QImage::fromData(reinterpret_cast<const uchar*>(image.bytes.data()),
                                     static_cast<int>(image.imageLength), "JPEG");
        image.bytes.clear();
        repaint();
        emit pictureShown();
        m_timer.start(static_cast<int>(m_services.clock.scaledMs(kImageRefreshMs)));
        return;
    }
    m_services.log.event("Failed in the connection of the camera", "err",
                         fieldUtf8(m_entry.szTitle));
    image.bytes.clear();
    m_timer.stop();
    m_services.messages.show(
        this, BoxIcon::Warning,
        QString::fromStdU16String(m_services.texts.lookup(u"ERROR_WINDOW", u"ERROR_TITLE_ERROR")),
        QString::fromStdU16String(m_services.texts.lookup(u"ERROR_WINDOW", u"ERROR_CONNECT")),
        BoxButtons::Ok);
    done(1);
}

void CChangeSts::done(int result) {
    // A close asked for while the window already waits for its fetch: that wait finishes it.
    if (m_pWaitLoop != nullptr) return;
    m_bClosing = true;
    m_timer.stop();
    if (m_bFetching) {
        // The fetch ends within its own time-out; meanwhile the window keeps painting.
        QEventLoop loop;
        m_pWaitLoop = &loop;
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        m_pWaitLoop = nullptr;
    }
    joinWorker();
    QDialog::done(result);
}

void CChangeSts::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    if (m_picture.isNull()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect client = rect();
    if (m_nWide != 0) {
        // Letterboxed at 16:9; the bands above and below stay as they are.
        const int width = client.width();
        const int height = width * 9 / 16;
        painter.drawImage(QRect(0, (client.height() - height) / 2, width, height), m_picture);
    } else {
        painter.drawImage(client, m_picture);
    }
}

}  // namespace lanrove::ui
