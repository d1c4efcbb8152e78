#include "ui/gui_search_events.h"

#include <QMetaObject>

namespace lanrove::ui {

GuiSearchEvents::GuiSearchEvents(QObject* receiver, SearchReportHandler& handler)
    : m_receiver(receiver), m_handler(handler) {}

template <typename F>
void GuiSearchEvents::post(F&& call) {
    QObject* receiver = m_receiver.data();
    if (receiver == nullptr) return;
    // Always queued, also from the receiver's own thread: a report never runs inside the code
    // that sent it.
    QMetaObject::invokeMethod(receiver, std::forward<F>(call), Qt::QueuedConnection);
}

void GuiSearchEvents::searchNotFound() {
    SearchReportHandler* h = &m_handler;
    post([h] { h->handleSearchNotFound(); });
}

void GuiSearchEvents::searchPortError(const std::string& text) {
    SearchReportHandler* h = &m_handler;
    const QString message = QString::fromStdString(text);
    post([h, message] { h->handleSearchPortError(message); });
}

void GuiSearchEvents::setControlEnabled(int controlId, bool enabled) {
    SearchReportHandler* h = &m_handler;
    post([h, controlId, enabled] { h->handleControlEnabled(controlId, enabled); });
}

void GuiSearchEvents::setCloseEnabled(bool enabled) {
    SearchReportHandler* h = &m_handler;
    post([h, enabled] { h->handleCloseEnabled(enabled); });
}

void GuiSearchEvents::addRow(int recordIndex) {
    SearchReportHandler* h = &m_handler;
    post([h, recordIndex] { h->handleAddRow(recordIndex); });
}

void GuiSearchEvents::replaceRow(int rowRecord, int fromRecord) {
    SearchReportHandler* h = &m_handler;
    post([h, rowRecord, fromRecord] { h->handleReplaceRow(rowRecord, fromRecord); });
}

void GuiSearchEvents::markRows(int rowCount) {
    SearchReportHandler* h = &m_handler;
    post([h, rowCount] { h->handleMarkRows(rowCount); });
}

}  // namespace lanrove::ui
