// The main window's Camera Image and Web Browser buttons: the check that no other listed camera
// has the selected camera's address, then the live image window (after a login check with the
// viewer account) or the camera's own pages in the desktop's browser.
#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "cgi/live_image.h"
#include "ui/certificate_question.h"
#include "ui/image_window.h"
#include "ui/list_sort.h"
#include "ui/main_window.h"
#include "ui/setting_dialog.h"

namespace lanrove::ui {

bool MainWindow::selectedCameraWithoutOverlap(bool bBrowser, std::size_t& index) {
    const int row = firstSelectedRow();
    if (row < 0) return false;
    const std::u16string no = m_core.list().cell(row, kColNo);
    const std::u16string ip = m_core.list().cell(row, kColIp);
    const CameraTable& table = m_core.store().m_CamTable;
    for (std::size_t i = 0; i < kCameraTableSize; ++i) {
        const CameraEntry& other = table[i];
        if (fieldView(other.szNo) == no || fieldView(other.szIp) != ip) continue;
        if (bBrowser)
            m_core.log().event("Overlapped IP addresses", "warn", fieldUtf8(other.szTitle));
        m_messages.show(this, BoxIcon::Warning, text(u"ERROR_WINDOW", u"ERROR_TITLE_ERROR"),
                        text(u"ERROR_WINDOW", u"ERROR_IP_ADDRESS"), BoxButtons::Ok);
        return false;
    }
    const std::int64_t number = numberOfText(no);
    if (number < 1 || number > static_cast<std::int64_t>(kCameraTableSize)) return false;
    index = static_cast<std::size_t>(number - 1);
    return true;
}

void MainWindow::onCameraImage() {
    if (!m_bReady || m_bSettingBusy || m_bImageBusy || m_pSearchWindow != nullptr) return;
    std::size_t index = 0;
    if (!selectedCameraWithoutOverlap(false, index)) return;
    m_bImageBusy = true;

    // The defaults and the viewer account stay in the camera table.
    CameraEntry& entry = m_core.store().m_CamTable[index];
    if (fieldEmpty(entry.szPort)) setField(entry.szPort, std::u16string_view(u"80"));
    if (fieldEmpty(entry.szSsl)) setField(entry.szSsl, std::u16string_view(u"0"));
    setField(entry.szUser, std::u16string_view(kViewerUser));
    setField(entry.szPassword, std::u16string_view(kViewerPassword));

    const CameraEntry copy = entry;
    const int login = loginTestTrusting(copy);
    if (login > 399) {
        m_core.log().event("Failed in the connection of the camera", "err",
                           fieldUtf8(copy.szTitle));
        m_messages.show(this, BoxIcon::Warning, text(u"ERROR_WINDOW", u"ERROR_TITLE_ERROR"),
                        text(u"ERROR_WINDOW", u"ERROR_CONNECT"), BoxButtons::Ok);
    } else if (!m_bStopRequested) {
        CCGI& cgi = m_core.cgi();
        CChangeSts window(
            {m_core.texts(), m_core.log(), m_messages, m_core.clock()}, copy,
            [&cgi](const CameraEntry& record, LiveImage& image) {
                CgiSessionSlot slot;  // a fresh session for every picture
                return GetLiveImage(cgi, slot, record, image);
            },
            this);
        m_pImageWindow = &window;
        emit imageWindowOpened(&window);
        window.exec();
        m_pImageWindow = nullptr;
    }
    m_bImageBusy = false;
    if (m_bStopRequested)
        QMetaObject::invokeMethod(
            this, [this] { requestStop(); }, Qt::QueuedConnection);
}

int MainWindow::loginTestTrusting(const CameraEntry& entry) {
    const int result = callOffGuiThread([this, &entry] { return m_core.loginTest(entry); });
    if (result < 400 || m_bStopRequested) return result;
    const CertificateQuestionTexts texts{text(u"TRUST_WINDOW", u"CERT_CHANGED_TITLE"),
                                         text(u"TRUST_WINDOW", u"CERT_CHANGED")};
    if (!askTrustNewCertificate(this, m_messages, m_core.trust(), m_core.log(), texts,
                                fieldUtf8(entry.szMac)))
        return result;
    return callOffGuiThread([this, &entry] { return m_core.loginTest(entry); });
}

void MainWindow::onWebBrowser() {
    if (!m_bReady || m_bSettingBusy || m_bImageBusy || m_pSearchWindow != nullptr) return;
    if (const OnvifDevice* d = m_pModel->onvifDevice(firstSelectedRow())) {
        // Another maker's camera: the pages at its service address's host.
        const std::string scheme = d->match.scheme.empty() ? "http" : d->match.scheme;
        std::string url = scheme + "://" + onvifDeviceIp(*d);
        if (d->match.port != 0) url += ":" + std::to_string(d->match.port);
        const QUrl target(QString::fromStdString(url + "/"));
        const bool opened = m_fnOpenUrl ? m_fnOpenUrl(target) : QDesktopServices::openUrl(target);
        if (!opened) showUrlBox(target);
        return;
    }
    std::size_t index = 0;
    if (!selectedCameraWithoutOverlap(true, index)) return;
    const CameraEntry& entry = m_core.store().m_CamTable[index];
    const std::u16string url =
        CCGI::MakeBaseUrl(fieldView(entry.szIp), fieldView(entry.szPort), fieldView(entry.szSsl));
    // An address that contradicts its SSL flag makes no URL; there is nothing to open.
    if (url == u"ERROR") return;
    const QUrl target(QString::fromStdU16String(url));
    const bool opened = m_fnOpenUrl ? m_fnOpenUrl(target) : QDesktopServices::openUrl(target);
    if (!opened) showUrlBox(target);
}

void MainWindow::showUrlBox(const QUrl& url) {
    const QString address = url.toString();
    m_core.log().event("No web browser could be opened", "err", address.toStdString());
    QDialog box(this);
    box.setObjectName(QStringLiteral("urlBox"));
    box.setWindowTitle(text(u"BROWSER_WINDOW", u"URL_TITLE"));
    auto* layout = new QVBoxLayout(&box);
    auto* reason = new QLabel(text(u"BROWSER_WINDOW", u"NO_BROWSER"), &box);
    reason->setWordWrap(true);
    layout->addWidget(reason);
    auto* row = new QHBoxLayout;
    auto* edit = new QLineEdit(address, &box);
    edit->setObjectName(QStringLiteral("urlText"));
    edit->setReadOnly(true);
    edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(address) + 24);
    edit->selectAll();
    row->addWidget(edit);
    auto* copy = new QPushButton(text(u"BROWSER_WINDOW", u"COPY"), &box);
    copy->setObjectName(QStringLiteral("urlCopy"));
    connect(copy, &QPushButton::clicked, edit, [edit] {
        QGuiApplication::clipboard()->setText(edit->text());
        edit->selectAll();
    });
    row->addWidget(copy);
    layout->addLayout(row);
    auto* buttons = new QDialogButtonBox(&box);
    buttons->addButton(text(u"BROWSER_WINDOW", u"CLOSE"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
    layout->addWidget(buttons);
    emit urlBoxOpened(&box);
    box.exec();
}

}  // namespace lanrove::ui
