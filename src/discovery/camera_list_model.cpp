#include "discovery/camera_list_model.h"

#include "support/text.h"

namespace lanrove {

namespace {
const std::u16string kEmpty;

bool validRow(int row, std::size_t count) {
    return row >= 0 && static_cast<std::size_t>(row) < count;
}
}  // namespace

void CameraListModel::setSslTexts(std::u16string on, std::u16string off) {
    m_strSslOn = std::move(on);
    m_strSslOff = std::move(off);
}

std::u16string CameraListModel::sslText(const CameraEntry& entry) const {
    const std::u16string_view ssl = fieldView(entry.szSsl);
    if (ssl == u"1") return m_strSslOn;
    if (ssl == u"0") return m_strSslOff;
    return {};
}

void CameraListModel::notify(ListChange::Kind kind, int firstRow, int lastRow, int firstColumn,
                             int lastColumn) const {
    if (m_fnChange) m_fnChange(ListChange{kind, firstRow, lastRow, firstColumn, lastColumn});
}

void CameraListModel::fillColumns(Row& row, const CameraEntry& entry,
                                  std::u16string_view statusText) const {
    row[kColNo] = fieldView(entry.szNo);
    if (!statusText.empty()) row[kColStatus] = statusText;
    row[kColModel] = fieldView(entry.szModel);
    row[kColMac] = fieldView(entry.szMac);
    row[kColIp] = fieldView(entry.szIp);
    row[kColPort] = fieldView(entry.szPort);
    row[kColSsl] = sslText(entry);
    row[kColTitle] = fieldView(entry.szTitle);
    row[kColFirmVer] = fieldView(entry.szFirmVer);
}

int CameraListModel::addRow(const CameraEntry& entry) {
    const int index = rowCount();
    Row row;
    fillColumns(row, entry, fieldView(entry.szStatus));
    notify(ListChange::Kind::AboutToInsert, index, index);
    m_rows.push_back(std::move(row));
    notify(ListChange::Kind::Inserted, index, index);
    return index;
}

bool CameraListModel::setCell(int row, int column, std::u16string text) {
    if (!validRow(row, m_rows.size()) || column < 0 || column >= kListColumnCount) return false;
    m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = std::move(text);
    notify(ListChange::Kind::CellsChanged, row, row, column, column);
    return true;
}

const std::u16string& CameraListModel::cell(int row, int column) const {
    if (!validRow(row, m_rows.size()) || column < 0 || column >= kListColumnCount) return kEmpty;
    return m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

const CameraListModel::Row& CameraListModel::row(int row) const {
    static const Row kEmptyRow{};
    if (!validRow(row, m_rows.size())) return kEmptyRow;
    return m_rows[static_cast<std::size_t>(row)];
}

void CameraListModel::clear() {
    notify(ListChange::Kind::AboutToReset, 0, rowCount() - 1);
    m_rows.clear();
    notify(ListChange::Kind::Reset, 0, -1);
}

int CameraListModel::findRowByNumber(std::u16string_view number) const {
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i][kColNo] == number) return static_cast<int>(i);
    return -1;
}

bool CameraListModel::refreshRow(int row, const CameraEntry& entry) {
    if (m_fnStatusText) return refreshRow(row, entry, m_fnStatusText(entry));
    return refreshRow(row, entry, fieldView(entry.szStatus));
}

bool CameraListModel::refreshRow(int row, const CameraEntry& entry,
                                 std::u16string_view statusText) {
    if (row > kMaxRefreshRow || !validRow(row, m_rows.size())) return false;
    fillColumns(m_rows[static_cast<std::size_t>(row)], entry, statusText);
    notify(ListChange::Kind::CellsChanged, row, row);
    return true;
}

bool CameraListModel::reorder(const std::vector<int>& order) {
    if (order.size() != m_rows.size()) return false;
    std::vector<bool> seen(m_rows.size(), false);
    for (const int from : order) {
        if (!validRow(from, m_rows.size()) || seen[static_cast<std::size_t>(from)]) return false;
        seen[static_cast<std::size_t>(from)] = true;
    }
    notify(ListChange::Kind::AboutToReorder, 0, rowCount() - 1);
    std::vector<Row> rows;
    rows.reserve(m_rows.size());
    for (const int from : order) rows.push_back(std::move(m_rows[static_cast<std::size_t>(from)]));
    m_rows = std::move(rows);
    notify(ListChange::Kind::Reordered, 0, rowCount() - 1);
    return true;
}

}  // namespace lanrove
