#include "ui/camera_table_model.h"

#include <QApplication>
#include <QStyle>

#include "support/text.h"
#include "ui/list_sort.h"

namespace lanrove::ui {

CameraTableModel::CameraTableModel(CameraListModel& list, QObject* parent)
    : QAbstractTableModel(parent), m_list(list) {
    m_list.setChangeHook([this](const ListChange& change) { onListChange(change); });
}

CameraTableModel::~CameraTableModel() {
    m_list.setChangeHook({});
}

void CameraTableModel::setHeaderTexts(const QStringList& texts) {
    m_headers = texts;
    emit headerDataChanged(Qt::Horizontal, 0, kListColumnCount - 1);
}

int CameraTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_list.rowCount() + static_cast<int>(m_onvif.size());
}

int CameraTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kListColumnCount + 1;
}

void CameraTableModel::setOnvifDevices(std::vector<OnvifDevice> devices) {
    const int first = m_list.rowCount();
    if (!m_onvif.empty()) {
        beginRemoveRows({}, first, first + static_cast<int>(m_onvif.size()) - 1);
        m_onvif.clear();
        m_onvifCells.clear();
        endRemoveRows();
    }
    if (devices.empty()) return;
    beginInsertRows({}, first, first + static_cast<int>(devices.size()) - 1);
    m_onvif = std::move(devices);
    for (const OnvifDevice& d : m_onvif) {
        std::vector<QString> cells;
        for (const std::string& t : onvifRowTexts(d)) cells.push_back(QString::fromStdString(t));
        cells.push_back(QString::fromStdString(d.match.maker));
        m_onvifCells.push_back(std::move(cells));
    }
    endInsertRows();
}

void CameraTableModel::setAlsoOnvif(std::set<std::string> macs) {
    m_alsoOnvif = std::move(macs);
    if (m_list.rowCount() > 0)
        emit dataChanged(index(0, kMakerColumn), index(m_list.rowCount() - 1, kMakerColumn));
}

const OnvifDevice* CameraTableModel::onvifDevice(int row) const {
    const int i = row - m_list.rowCount();
    if (i < 0 || i >= static_cast<int>(m_onvif.size())) return nullptr;
    return &m_onvif[static_cast<std::size_t>(i)];
}

QVariant CameraTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    if (index.row() >= m_list.rowCount()) {
        const auto& cells = m_onvifCells[static_cast<std::size_t>(index.row() - m_list.rowCount())];
        if ((role == Qt::DisplayRole || role == Qt::ToolTipRole) &&
            static_cast<std::size_t>(index.column()) < cells.size())
            return cells[static_cast<std::size_t>(index.column())];
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        return {};
    }
    if (index.column() == kMakerColumn) {
        // Our own cameras: the family's maker, and whether it also speaks ONVIF.
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return m_alsoOnvif.count(toUtf8(m_list.cell(index.row(), kColMac))) != 0
                       ? QStringLiteral("Lanrove (ONVIF)")
                       : QStringLiteral("Lanrove");
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        return {};
    }
    if (index.column() == kColStatus && (role == Qt::DecorationRole || role == Qt::ToolTipRole)) {
        const QString mark = findingMark(index.row());
        if (!mark.isEmpty()) {
            if (role == Qt::DecorationRole) return m_markIcon;
            return QString::fromStdU16String(m_list.cell(index.row(), index.column())) +
                   QLatin1Char('\n') + mark;
        }
    }
    if (index.column() == kColStatus && role == Qt::DisplayRole && !m_stages.empty()) {
        const QString status = QString::fromStdU16String(m_list.cell(index.row(), kColStatus));
        const auto it = m_stages.find(toUtf8(m_list.cell(index.row(), kColMac)));
        if (it != m_stages.end()) return status + QStringLiteral(" \u00b7 ") + it->second;
        return status;
    }
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return QString::fromStdU16String(m_list.cell(index.row(), index.column()));
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

QString CameraTableModel::findingMark(int row) const {
    if (m_marks.empty() || row < 0 || row >= m_list.rowCount()) return {};
    const auto it = m_marks.find(toUtf8(m_list.cell(row, kColMac)));
    return it == m_marks.end() ? QString() : it->second;
}

void CameraTableModel::setFindingMark(const std::string& mac, const QString& findings) {
    if (findings.isEmpty())
        m_marks.erase(mac);
    else
        m_marks[mac] = findings;
    if (m_markIcon.isNull())
        m_markIcon = QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
    for (int r = 0; r < m_list.rowCount(); ++r)
        if (toUtf8(m_list.cell(r, kColMac)) == mac)
            emit dataChanged(index(r, kColStatus), index(r, kColStatus));
}

void CameraTableModel::setStage(const std::string& mac, const QString& stage) {
    const auto it = m_stages.find(mac);
    if (stage.isEmpty() ? it == m_stages.end() : it != m_stages.end() && it->second == stage)
        return;
    if (stage.isEmpty())
        m_stages.erase(it);
    else
        m_stages[mac] = stage;
    for (int r = 0; r < m_list.rowCount(); ++r)
        if (toUtf8(m_list.cell(r, kColMac)) == mac)
            emit dataChanged(index(r, kColStatus), index(r, kColStatus));
}

void CameraTableModel::clearStages() {
    if (m_stages.empty()) return;
    m_stages.clear();
    if (m_list.rowCount() > 0)
        emit dataChanged(index(0, kColStatus), index(m_list.rowCount() - 1, kColStatus));
}

void CameraTableModel::clearFindingMarks() {
    if (m_marks.empty()) return;
    m_marks.clear();
    if (m_list.rowCount() > 0)
        emit dataChanged(index(0, kColStatus), index(m_list.rowCount() - 1, kColStatus));
}

QVariant CameraTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole && section == kMakerColumn) return m_makerHeader;
    if (role == Qt::DisplayRole && section >= 0 && section < m_headers.size())
        return m_headers.at(section);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

void CameraTableModel::sortRows(int column, bool ascending) {
    m_pendingOrder = sortOrder(m_list, column, ascending);
    m_list.reorder(m_pendingOrder);
    m_pendingOrder.clear();
}

void CameraTableModel::onListChange(const ListChange& change) {
    using Kind = ListChange::Kind;
    switch (change.kind) {
        case Kind::AboutToInsert:
            beginInsertRows({}, change.firstRow, change.lastRow);
            break;
        case Kind::Inserted:
            endInsertRows();
            break;
        case Kind::CellsChanged:
            emit dataChanged(index(change.firstRow, change.firstColumn),
                             index(change.lastRow, change.lastColumn));
            break;
        case Kind::AboutToReset:
            beginResetModel();
            break;
        case Kind::Reset:
            endResetModel();
            break;
        case Kind::AboutToReorder:
            emit layoutAboutToBeChanged();
            break;
        case Kind::Reordered: {
            // Persistent indexes (the selection) move with their rows when the order is ours.
            const QModelIndexList old = persistentIndexList();
            if (m_pendingOrder.size() == static_cast<std::size_t>(m_list.rowCount())) {
                std::vector<int> newRowOf(m_pendingOrder.size());
                for (std::size_t i = 0; i < m_pendingOrder.size(); ++i)
                    newRowOf[static_cast<std::size_t>(m_pendingOrder[i])] = static_cast<int>(i);
                QModelIndexList moved;
                moved.reserve(old.size());
                for (const QModelIndex& i : old)
                    moved.append(
                        i.row() < static_cast<int>(newRowOf.size())
                            ? index(newRowOf[static_cast<std::size_t>(i.row())], i.column())
                            : i);  // an ONVIF row after the list's keeps its place
                changePersistentIndexList(old, moved);
            }
            emit layoutChanged();
            break;
        }
    }
}

}  // namespace lanrove::ui
