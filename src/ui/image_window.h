#pragma once
// CChangeSts: the live image window. It shows one camera's current picture and fetches the
// next one 500 ms after each picture was drawn. Fetches run on a worker thread, one at a time,
// so the window keeps painting and answering while a camera is slow; the worker has ended
// before the window goes. When a fetch fails the window writes the event line, shows one error
// box and closes itself.

#include <QDialog>
#include <QImage>
#include <QTimer>
#include <functional>
#include <thread>

#include "app/lang_table.h"
#include "cgi/live_image.h"
#include "discovery/camera_entry.h"
#include "support/clock.h"
#include "support/trace_log.h"
#include "ui/message_layer.h"

class QEventLoop;

namespace lanrove::ui {

// Milliseconds from a drawn picture to the next fetch (protocol time).
inline constexpr long kImageRefreshMs = 500;

class CChangeSts final : public QDialog {
    Q_OBJECT
  public:
    // One fetch for the record copy: GetLiveImage's result code and picture. Runs on the
    // worker thread; it must end within its own time-out.
    using FetchFn = std::function<int(const CameraEntry&, LiveImage&)>;

    struct Services {
        const LangTable& texts;
        TraceLog& log;
        MessageLayer& messages;
        const Clock& clock;
    };

    CChangeSts(Services services, const CameraEntry& entry, FetchFn fetch,
               QWidget* parent = nullptr);
    ~CChangeSts() override;

    // The picture on show (null when none) and its 16:9 flag.
    const QImage& picture() const { return m_picture; }
    int wideFlag() const { return m_nWide; }
    bool fetching() const { return m_bFetching; }
    const CameraEntry& entry() const { return m_entry; }

    // Ends the window. A fetch on its way is waited for (events keep being processed, user
    // input is not) before the dialog closes.
    void done(int result) override;

  signals:
    // A fetch ended and its picture (or none, when it could not be decoded) was drawn.
    void pictureShown();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void startFetch();
    void fetched(int result, LiveImage image);
    void joinWorker();

    Services m_services;
    CameraEntry m_entry;
    FetchFn m_fnFetch;
    QTimer m_timer;
    std::thread m_worker;
    bool m_bFetching = false;
    bool m_bClosing = false;
    QEventLoop* m_pWaitLoop = nullptr;
    QImage m_picture;
    int m_nWide = 0;
};

// The title of the window: "IP ( title ) ".
QString imageWindowTitle(const CameraEntry& entry);

}  // namespace lanrove::ui
