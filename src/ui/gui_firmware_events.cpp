#include "ui/gui_firmware_events.h"

#include <QMetaObject>

#include "discovery/camera_entry.h"

namespace lanrove::ui {

GuiFirmwareEvents::GuiFirmwareEvents(QObject* receiver, FirmwareReportHandler& handler)
    : m_receiver(receiver), m_handler(handler), m_pending(kCameraTableSize, false) {}

void GuiFirmwareEvents::onFirmRowChanged(int recordIndex) {
    if (recordIndex < 0 || recordIndex >= static_cast<int>(kCameraTableSize)) return;
    QObject* receiver = m_receiver.data();
    if (receiver == nullptr) return;
    {
        std::lock_guard lock(m_mutex);
        const auto i = static_cast<std::size_t>(recordIndex);
        if (!m_pending[i]) {
            m_pending[i] = true;
            m_order.push_back(recordIndex);
        }
        if (m_bFlushPosted) return;
        m_bFlushPosted = true;
    }
    // Always queued, also from the receiver's own thread: rows change only there, in order
    // with the other reports.
    QMetaObject::invokeMethod(
        receiver, [this] { flushRows(); }, Qt::QueuedConnection);
}

void GuiFirmwareEvents::flushRows() {
    std::vector<int> rows;
    {
        std::lock_guard lock(m_mutex);
        rows.swap(m_order);
        for (int index : rows) m_pending[static_cast<std::size_t>(index)] = false;
        m_bFlushPosted = false;
    }
    for (int index : rows) m_handler.handleFirmRowChanged(index);
}

void GuiFirmwareEvents::onFirmCheckDone(bool anyUpdateReady) {
    QObject* receiver = m_receiver.data();
    if (receiver == nullptr) return;
    FirmwareReportHandler* handler = &m_handler;
    QMetaObject::invokeMethod(
        receiver, [handler, anyUpdateReady] { handler->handleFirmCheckDone(anyUpdateReady); },
        Qt::QueuedConnection);
}

}  // namespace lanrove::ui
