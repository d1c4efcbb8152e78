#include <gtest/gtest.h>

#include <vector>

#include "discovery/camera_list_model.h"
#include "support/text.h"

using namespace lanrove;

namespace {

CameraEntry record(const char* no, const char* ip, const char* ssl, const char* status = "") {
    CameraEntry e;
    e.clear();
    setField(e.szNo, std::string_view(no));
    setField(e.szStatus, std::string_view(status));
    setField(e.szModel, std::string_view("LR-100"));
    setField(e.szMac, std::string_view("00:80:45:00:00:01"));
    setField(e.szIp, std::string_view(ip));
    setField(e.szPort, std::string_view("80"));
    setField(e.szSsl, std::string_view(ssl));
    setField(e.szTitle, std::string_view("Gate"));
    setField(e.szFirmVer, std::string_view("1.20"));
    return e;
}

}  // namespace

TEST(CameraListModel, RowsCarryTheRecordTextsAndRefreshKeepsAnEmptyStatusChoice) {
    CameraListModel list;
    list.setSslTexts(u"on", u"off");
    EXPECT_EQ(list.addRow(record("1", "10.0.0.5", "1", "NEW")), 0);
    EXPECT_EQ(list.addRow(record("2", "10.0.0.6", "")), 1);
    const CameraListModel::Row expected{
        u"1", u"NEW", u"LR-100", u"00:80:45:00:00:01", u"10.0.0.5", u"80", u"on", u"Gate", u"1.20"};
    EXPECT_EQ(list.row(0), expected);
    EXPECT_EQ(list.cell(1, kColSsl), u"");

    CameraEntry moved = record("1", "10.0.0.9", "0", "OK");
    ASSERT_TRUE(list.refreshRow(0, moved));
    EXPECT_EQ(list.cell(0, kColStatus), u"OK");
    EXPECT_EQ(list.cell(0, kColIp), u"10.0.0.9");
    EXPECT_EQ(list.cell(0, kColSsl), u"off");

    // A mode that picks its own status text; an empty pick leaves the column as it was.
    std::u16string pick = u"Update ready";
    list.setStatusTextFn([&](const CameraEntry&) { return pick; });
    list.refreshRow(0, moved);
    EXPECT_EQ(list.cell(0, kColStatus), u"Update ready");
    pick.clear();
    setField(moved.szTitle, std::u16string_view(u"Lobby"));
    list.refreshRow(0, moved);
    EXPECT_EQ(list.cell(0, kColStatus), u"Update ready");
    EXPECT_EQ(list.cell(0, kColTitle), u"Lobby");
    EXPECT_FALSE(list.refreshRow(2, moved));

    // Rows past the table's 1000 records are never refreshed.
    while (list.rowCount() < 1001) list.addRow(record("9", "", ""));
    EXPECT_TRUE(list.refreshRow(999, moved));
    EXPECT_FALSE(list.refreshRow(1000, moved));
}

TEST(CameraListModel, ReorderTakesOnlyPermutationsAndReportsChangesInPairs) {
    CameraListModel list;
    std::vector<ListChange::Kind> kinds;
    list.setChangeHook([&](const ListChange& c) { kinds.push_back(c.kind); });
    for (const char* no : {"1", "2", "3"}) list.addRow(record(no, "10.0.0.1", ""));
    ASSERT_EQ(kinds.size(), 6u);
    EXPECT_EQ(kinds[0], ListChange::Kind::AboutToInsert);
    EXPECT_EQ(kinds[1], ListChange::Kind::Inserted);
    kinds.clear();

    EXPECT_FALSE(list.reorder({0, 1}));
    EXPECT_FALSE(list.reorder({0, 1, 1}));
    EXPECT_FALSE(list.reorder({0, 1, 3}));
    EXPECT_TRUE(kinds.empty());
    ASSERT_TRUE(list.reorder({2, 0, 1}));
    EXPECT_EQ(list.cell(0, kColNo), u"3");
    EXPECT_EQ(list.findRowByNumber(u"2"), 2);
    EXPECT_EQ(list.findRowByNumber(u"4"), -1);

    list.clear();
    EXPECT_EQ(list.rowCount(), 0);
    const std::vector<ListChange::Kind> expected{
        ListChange::Kind::AboutToReorder, ListChange::Kind::Reordered,
        ListChange::Kind::AboutToReset, ListChange::Kind::Reset};
    EXPECT_EQ(kinds, expected);
}
