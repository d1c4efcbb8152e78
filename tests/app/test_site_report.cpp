// The handover report's HTML: whatever a camera calls itself stays text in its cell.
#include <gtest/gtest.h>

#include <string>

#include "app/site_report.h"

namespace lanrove {
namespace {

SiteReportData oneCamera(const std::string& title) {
    SiteReportData d;
    d.when = "2026-12-09 10:00";
    d.adapter = "eth0 192.168.0.10/255.255.255.0\neth1 10.0.0.5/255.0.0.0";
    d.total = 1;
    SiteReportRow r;
    r.no = "1";
    r.mac = "00:80:45:00:00:01";
    r.model = "KT-5200";
    r.title = title;
    r.firmware = "1.00";
    r.findings.push_back("warning: camera-default-account: " + title + " still has it. Fix: x");
    r.snapshot = "\xFF\xD8jpeg";
    d.rows.push_back(r);
    ChangeRecord c;
    c.time = "2026-12-09 09:00:00";
    c.kind = "title";
    c.mac = r.mac;
    c.before = "Gate";
    c.after = title;
    c.result = "ok";
    d.changes.push_back(c);
    return d;
}

TEST(SiteReport, HostileTitleStaysTextInEveryPlaceItAppears) {
    const std::string hostile =
        "</td><script>alert('x')</script><img src=x onerror=\"alert(1)\">&amp;\x1b[2J\xE2\x80\xAE";
    for (PictureRefs refs : {PictureRefs::Inline, PictureRefs::Resources}) {
        const std::string html = buildReportHtml(oneCamera(hostile), refs);
        EXPECT_EQ(html.find("<script"), std::string::npos) << html;
        EXPECT_EQ(html.find("<img src=x"), std::string::npos) << html;
        EXPECT_EQ(html.find('\x1b'), std::string::npos);
        EXPECT_EQ(html.find("\xE2\x80\xAE"), std::string::npos);
        const std::string escaped =
            "&lt;/td&gt;&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;&lt;img src=x "
            "onerror=&quot;alert(1)&quot;&gt;&amp;amp;\xEF\xBF\xBD[2J\xEF\xBF\xBD";
        // The title's cell, the finding that quotes it and the change that set it.
        std::size_t count = 0;
        for (std::size_t p = html.find(escaped); p != std::string::npos;
             p = html.find(escaped, p + 1))
            ++count;
        EXPECT_EQ(count, 3u) << html;
        // The program's own markup is still there: one row cell per column, the picture.
        EXPECT_NE(html.find("<td>" + escaped + "</td>"), std::string::npos);
        EXPECT_NE(html.find("<img src=\""), std::string::npos);
        // The adapter cell keeps its one line per adapter.
        EXPECT_NE(html.find("255.255.255.0<br>\neth1"), std::string::npos);
    }
}

TEST(SiteReport, OrdinaryTextsInOtherScriptsAreUnchanged) {
    const std::string html = buildReportHtml(oneCamera("入口カメラ Tür"), PictureRefs::Inline);
    EXPECT_NE(html.find("<td>入口カメラ Tür</td>"), std::string::npos) << html;
}

}  // namespace
}  // namespace lanrove
