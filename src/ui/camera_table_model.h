#pragma once
// The camera list as a Qt table model over the core's CameraListModel: every change of the
// rows arrives through the list's change hook and becomes the matching model signal. The rows
// must change on the GUI thread (workers post their reports to it).

#include <QAbstractTableModel>
#include <QIcon>
#include <QStringList>
#include <map>
#include <string>
#include <vector>

#include "discovery/camera_list_model.h"

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
    QIcon m_markIcon;
};

}  // namespace lanrove::ui
