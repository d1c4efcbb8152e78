#pragma once
// The camera list's rows as a GUI-free model: nine texts per row, rows in display order (which
// may differ from the camera table's order once the user sorts). The desktop program wraps it
// in a table model through the change hook; the CLI reads or prints it.
//
// Not thread-safe: a worker that updates rows must do so while no other thread touches the
// model (the desktop program marshals the changes onto its GUI thread).

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/camera_entry.h"

namespace lanrove {

enum ListColumn : int {
    kColNo = 0,
    kColStatus = 1,
    kColModel = 2,
    kColMac = 3,
    kColIp = 4,
    kColPort = 5,
    kColSsl = 6,
    kColTitle = 7,
    kColFirmVer = 8,
    kListColumnCount = 9,
};

// Rows above this index are never refreshed (the list mirrors a table of 1000 records).
inline constexpr int kMaxRefreshRow = static_cast<int>(kCameraTableSize) - 1;

// One change, reported in the begin/end pairs that a Qt table model needs:
// AboutToInsert/Inserted, AboutToReset/Reset, AboutToReorder/Reordered; CellsChanged after
// cells of one row changed. Rows and columns are inclusive ranges.
struct ListChange {
    enum class Kind {
        AboutToInsert,
        Inserted,
        CellsChanged,
        AboutToReset,
        Reset,
        AboutToReorder,
        Reordered,
    };
    Kind kind;
    int firstRow = 0;
    int lastRow = -1;
    int firstColumn = 0;
    int lastColumn = -1;
};

class CameraListModel {
  public:
    using Row = std::array<std::u16string, kListColumnCount>;
    using ChangeHook = std::function<void(const ListChange&)>;
    // Chooses the status column's text when a row is refreshed; an empty result leaves the
    // column as it was. Without one, the record's szStatus is used.
    using StatusTextFn = std::function<std::u16string(const CameraEntry&)>;

    void setChangeHook(ChangeHook hook) { m_fnChange = std::move(hook); }
    void setStatusTextFn(StatusTextFn fn) { m_fnStatusText = std::move(fn); }
    // Texts of the SSL column for szSsl "1" and "0" (any other value shows empty).
    void setSslTexts(std::u16string on, std::u16string off);

    int rowCount() const { return static_cast<int>(m_rows.size()); }
    static constexpr int columnCount() { return kListColumnCount; }

    // Appends a row with the nine texts of `entry` (status column from szStatus); returns its
    // index.
    int addRow(const CameraEntry& entry);
    // Returns false when row or column is out of range.
    bool setCell(int row, int column, std::u16string text);
    // Empty for a row or column out of range.
    const std::u16string& cell(int row, int column) const;
    const Row& row(int row) const;
    void clear();

    // Index of the first row whose No. text equals `number`, or -1.
    int findRowByNumber(std::u16string_view number) const;

    // Rewrites the row's texts from the record: No., the status text (from the status-text
    // function, else szStatus; an empty choice keeps the column), columns 2 to 8 as when adding.
    // Rows above 999 or past the end are ignored (returns false).
    bool refreshRow(int row, const CameraEntry& entry);
    // The same with an explicit status text (empty keeps the column).
    bool refreshRow(int row, const CameraEntry& entry, std::u16string_view statusText);

    // Puts the rows in a new order: new row i is old row order[i]. Returns false (and changes
    // nothing) when `order` is not a permutation of 0..rowCount()-1.
    bool reorder(const std::vector<int>& order);

    // The SSL column's text for a record.
    std::u16string sslText(const CameraEntry& entry) const;

  private:
    void notify(ListChange::Kind kind, int firstRow, int lastRow, int firstColumn = 0,
                int lastColumn = kListColumnCount - 1) const;
    void fillColumns(Row& row, const CameraEntry& entry, std::u16string_view statusText) const;

    std::vector<Row> m_rows;
    ChangeHook m_fnChange;
    StatusTextFn m_fnStatusText;
    std::u16string m_strSslOn = u"ON";
    std::u16string m_strSslOff = u"OFF";
};

}  // namespace lanrove
