#pragma once
// The firmware runs' reports as posted calls onto the receiving window's thread. Row changes
// come in bursts (every piece of an upload moves a byte counter): they are gathered, and one
// queued call refreshes each changed record once. A report that arrives after the window is
// gone is dropped.

#include <QObject>
#include <QPointer>
#include <mutex>
#include <vector>

#include "app/firmware_control.h"

namespace lanrove::ui {

// What the main window does with the reports (on its own thread).
class FirmwareReportHandler {
  public:
    virtual ~FirmwareReportHandler() = default;
    virtual void handleFirmRowChanged(int recordIndex) = 0;
    virtual void handleFirmCheckDone(bool anyUpdateReady) = 0;
};

class GuiFirmwareEvents final : public FirmwareEvents {
  public:
    GuiFirmwareEvents(QObject* receiver, FirmwareReportHandler& handler);

    void onFirmRowChanged(int recordIndex) override;
    void onFirmCheckDone(bool anyUpdateReady) override;

  private:
    void flushRows();

    QPointer<QObject> m_receiver;
    FirmwareReportHandler& m_handler;
    std::mutex m_mutex;
    std::vector<bool> m_pending;  // per record index: waiting in m_order
    std::vector<int> m_order;     // changed records in the order of their first report
    bool m_bFlushPosted = false;
};

}  // namespace lanrove::ui
