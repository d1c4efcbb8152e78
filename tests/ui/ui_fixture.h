#pragma once
// A main window over a core whose host network and datagram transport are fakes: the start-up
// check answers as told, and search requests are answered with canned camera replies handed
// straight to the receive handling. Boxes are answered at once and recorded.

#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

#include "app/language.h"
#include "app/setup_core.h"
#include "app/temp_dir.h"
#include "camera_datagrams.h"
#include "discovery/fake_lan.h"
#include "qstring_print.h"
#include "ui/main_window.h"
#include "ui/message_layer.h"
#include "ui/search_window.h"

namespace lanrove::ui::testing {

using ::lanrove::testing::AnsweringTransport;
using ::lanrove::testing::FakeHostNetwork;
using ::lanrove::testing::makeAdapter;

inline camsim::SimCamera simCamera(std::uint8_t last, const char* ip, bool factory,
                                   const char* title, const char* model = "KT-100") {
    camsim::SimCamera c;
    c.protoVer = 2;
    const std::uint8_t mac[6] = {0x00, 0x1B, 0x7C, 0x00, 0x02, last};
    std::copy(std::begin(mac), std::end(mac), std::begin(c.mac));
    c.ip = ip;
    c.factory = factory;
    c.title = title;
    c.model = model;
    c.firmVer = "2.10";
    return c;
}

inline QString cellText(const MainWindow& w, int row, int column) {
    return w.model()->data(w.model()->index(row, column)).toString();
}

class UiFixture : public ::testing::Test {
  protected:
    UiFixture() {
        net.adapters.push_back(makeAdapter("192.168.0.10", "255.255.255.0", "192.168.0.1", "lo"));
    }

    ~UiFixture() override {
        net.flushReleased.set();
        window.reset();
        core.reset();
    }

    void makeCore(bool maintenance) {
        ProgramPaths paths;
        paths.folder = dir.path();
        paths.exeBaseName = maintenance ? "lanrove-setup_FwTool" : "lanrove-setup";
        paths.exeFileName = paths.exeBaseName;
        core = std::make_unique<SetupCore>(clock, log, paths, langId, &net, &transport);
        transport.core = core.get();
        appTexts.loadApplication(langId, paths.languageIni());
    }

    // A window whose start-up has run to the ready main window (or, when the check fails, to
    // the error box).
    MainWindow& startWindow(bool maintenance = false, bool expectReady = true) {
        makeCore(maintenance);
        window = std::make_unique<MainWindow>(*core, boxes, appTexts);
        QSignalSpy ready(window.get(), &MainWindow::ready);
        QSignalSpy failed(window.get(), &MainWindow::startupFailed);
        window->start();
        if (expectReady) {
            EXPECT_TRUE(ready.count() > 0 || ready.wait(5000));
        } else {
            EXPECT_TRUE(failed.count() > 0 || failed.wait(5000));
        }
        return *window;
    }

    bool enabled(int id) const { return window->button(id)->isEnabled(); }
    bool shown(int id) const { return !window->button(id)->isHidden(); }
    QString counter(int id) const { return window->label(id)->text(); }

    std::string logText() const {
        std::string all;
        const auto folder = dir.path() / "IPLog";
        if (!std::filesystem::exists(folder)) return all;
        std::vector<std::filesystem::path> files;
        for (const auto& f : std::filesystem::directory_iterator(folder)) files.push_back(f.path());
        std::sort(files.begin(), files.end());
        for (const auto& f : files) {
            std::ifstream in(f, std::ios::binary);
            std::stringstream ss;
            ss << in.rdbuf();
            all += ss.str();
        }
        return all;
    }

    // Puts records into the camera table as the receive thread would.
    void appendRecord(const char* ip, std::uint16_t proto, std::uint32_t result, bool factory,
                      const char* model = "KT-100", const char* mac = nullptr) {
        CameraEntry e{};  // zeroed: fields the test leaves alone must be empty
        e.clear();
        static int n = 0;
        const std::string macText =
            mac != nullptr ? std::string(mac) : "00:1B:7C:00:03:" + std::to_string(10 + (++n % 80));
        setField(e.szMac, std::string_view(macText));
        setField(e.szIp, std::string_view(ip));
        setField(e.szModel, std::string_view(model));
        setField(e.szPort, std::string_view("80"));
        setField(e.szSsl, std::string_view("0"));
        e.wProtoVer = proto;
        e.dwResult = result;
        e.bFactory = factory ? 1 : 0;
        ASSERT_TRUE(core->store().append(e));
    }

    unsigned langId = kLangIdEnglish;  // the window's language, set before it starts
    ScaledClock clock{0.01};
    test::TempDir dir;
    TraceLog log;
    FakeHostNetwork net;
    AnsweringTransport transport;
    AnsweringMessageLayer boxes;
    LangTable appTexts;
    std::unique_ptr<SetupCore> core;
    std::unique_ptr<MainWindow> window;
};

}  // namespace lanrove::ui::testing
