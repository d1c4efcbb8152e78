#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "discovery/camera_store.h"

using namespace lanrove;

namespace {

CameraEntry withMac(const char* mac) {
    CameraEntry e;
    e.clear();
    setField(e.szMac, std::string_view(mac));
    return e;
}

}  // namespace

TEST(CameraStore, AppendNumbersFromOneAndRefusesOnceFull) {
    auto store = std::make_unique<CameraStore>();
    for (int i = 0; i < static_cast<int>(kCameraTableSize); ++i) {
        char mac[32];
        std::snprintf(mac, sizeof mac, "00:80:45:00:%02X:%02X", i / 256, i % 256);
        ASSERT_TRUE(store->append(withMac(mac))) << i;
    }
    EXPECT_EQ(fieldView(store->m_CamTable[0].szNo), u"1");
    EXPECT_EQ(fieldView(store->m_CamTable[999].szNo), u"1000");
    EXPECT_FALSE(store->append(withMac("00:80:45:FF:FF:FF")));
    EXPECT_EQ(store->m_nFindWrite, 1000);
    EXPECT_EQ(store->findByMac(u"00:80:45:00:03:E7", 1000), 999);

    store->m_dwResultBeforeOverlap[5] = 201;
    store->resetForSearch();
    EXPECT_FALSE(store->m_CamTable[0].inUse());
    EXPECT_EQ(store->m_dwResultBeforeOverlap[5], 0u);
}

TEST(CameraStore, FindByMacIsExactAndStopsAtCountOrEmptyMac) {
    auto store = std::make_unique<CameraStore>();
    for (const char* mac : {"00:80:45:00:00:0A", "00:80:45:00:00:0B", "", "00:80:45:00:00:0D"})
        store->append(withMac(mac));
    EXPECT_EQ(store->findByMac(u"00:80:45:00:00:0B", 4), 1);
    EXPECT_EQ(store->findByMac(u"00:80:45:00:00:0b", 4), -1);  // case matters
    EXPECT_EQ(store->findByMac(u"00:80:45:00:00:0", 4), -1);   // whole text only
    EXPECT_EQ(store->findByMac(u"00:80:45:00:00:0B", 1), -1);  // only records before n
    EXPECT_EQ(store->findByMac(u"00:80:45:00:00:0D", 4), -1);  // behind the empty MAC
}
