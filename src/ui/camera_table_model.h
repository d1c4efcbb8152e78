#pragma once
// The camera list as a Qt table model over the core's CameraListModel: every change of the
// rows arrives through the list's change hook and becomes the matching model signal. The rows
// must change on the GUI thread (workers post their reports to it).

#include <QAbstractTableModel>
#include <QIcon>
#include <QStringList>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "discovery/camera_list_model.h"
#include "runs/onvif_discovery.h"

namespace lanrove::ui {

class CameraTableModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit CameraTableModel(CameraListModel& list, QObject* parent = nullptr);
    ~CameraTableModel() override;

    void setHeaderTexts(const QStringList& texts);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Puts the rows in the order of `column` (see list_sort.h); selections follow their rows.
    void sortRows(int column, bool ascending);

    CameraListModel& list() { return m_list; }

    // Other makers' ONVIF cameras, as rows after the list's (status ONVIF, their maker in the
    // Maker column); a new search clears them.
    void setOnvifDevices(std::vector<OnvifDevice> devices);
    void clearOnvifDevices() { setOnvifDevices({}); }
    // The device behind `row`, or null for a row of ours.
    const OnvifDevice* onvifDevice(int row) const;
    int onvifCount() const { return static_cast<int>(m_onvif.size()); }
    const std::vector<OnvifDevice>& onvifDevices() const { return m_onvif; }
    // The column after the list's nine.
    static constexpr int kMakerColumn = kListColumnCount;
    void setMakerHeader(const QString& text) { m_makerHeader = text; }
    // Our cameras (by MAC) that also answered as ONVIF devices.
    void setAlsoOnvif(std::set<std::string> macs);

    // The doctor's findings on listed cameras, by MAC: such a row's status cell carries a
    // warning sign and the findings as its tooltip, so that an OK row the doctor found
    // unreachable never looks healthy. An empty text removes the mark.
    void setFindingMark(const std::string& mac, const QString& findings);
    void clearFindingMarks();
    // A firmware update's stage beside a row's status text, by MAC ("" removes it).
    void setStage(const std::string& mac, const QString& stage);
    void clearStages();
    bool hasStages() const { return !m_stages.empty(); }
    QString findingMark(int row) const;

  private:
    void onListChange(const ListChange& change);

    CameraListModel& m_list;
    QStringList m_headers;
    std::vector<int> m_pendingOrder;  // the order being applied by sortRows
    std::map<std::string, QString> m_marks;
    std::map<std::string, QString> m_stages;
    std::vector<OnvifDevice> m_onvif;
    std::vector<std::vector<QString>> m_onvifCells;
    QString m_makerHeader = QStringLiteral("Maker");
    std::set<std::string> m_alsoOnvif;
    QIcon m_markIcon;
};

}  // namespace lanrove::ui
