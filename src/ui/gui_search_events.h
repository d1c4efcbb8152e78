#pragma once
// The search worker's reports as posted calls: each report is queued onto the thread of the
// receiving window and runs there in the order the worker sent them. A report that arrives
// after the window is gone is dropped.

#include <QObject>
#include <QPointer>
#include <QString>
#include <string>

#include "discovery/search_events.h"

namespace lanrove::ui {

// What the main window does with the reports (on its own thread).
class SearchReportHandler {
  public:
    virtual ~SearchReportHandler() = default;
    virtual void handleSearchNotFound() = 0;
    virtual void handleControlEnabled(int controlId, bool enabled) = 0;
    virtual void handleCloseEnabled(bool enabled) = 0;
    virtual void handleAddRow(int recordIndex) = 0;
    virtual void handleMarkRows(int rowCount) = 0;
    virtual void handleReplaceRow(int rowRecord, int fromRecord) {
        (void)rowRecord;
        (void)fromRecord;
    }
    virtual void handleSearchPortError(const QString& text) { (void)text; }
};

class GuiSearchEvents final : public SearchEvents {
  public:
    // `receiver` decides the thread and the lifetime; `handler` is usually the same object.
    GuiSearchEvents(QObject* receiver, SearchReportHandler& handler);

    void searchNotFound() override;
    void setControlEnabled(int controlId, bool enabled) override;
    void setCloseEnabled(bool enabled) override;
    void addRow(int recordIndex) override;
    void markRows(int rowCount) override;
    void replaceRow(int rowRecord, int fromRecord) override;
    void searchPortError(const std::string& text) override;

  private:
    template <typename F>
    void post(F&& call);

    QPointer<QObject> m_receiver;
    SearchReportHandler& m_handler;
};

}  // namespace lanrove::ui
