#pragma once
// The IP-setting dialogs on their own: English texts, a trace log in a private folder, boxes
// answered at once and recorded, and the adapter 192.168.0.10/24 with the gateway .1.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/language.h"
#include "app/temp_dir.h"
#include "discovery/fake_lan.h"
#include "qstring_print.h"
#include "support/text.h"
#include "ui/message_layer.h"
#include "ui/setting_dialog.h"

namespace lanrove::ui::testing {

class SettingDialogFixture : public ::testing::Test {
  protected:
    SettingDialogFixture() {
        texts.loadMain(kLangIdEnglish, dir.path() / "Language.ini");
        texts.loadAdded(kLangIdEnglish, dir.path() / "Language.ini");  // as the program loads them
        log.create(dir.path());
        adapter = ::lanrove::testing::makeAdapter("192.168.0.10", "255.255.255.0", "192.168.0.1");
    }

    DialogServices services() { return {texts, log, boxes}; }

    std::string logText() const {
        std::string all;
        const auto folder = dir.path() / "IPLog";
        if (!std::filesystem::exists(folder)) return all;
        for (const auto& f : std::filesystem::directory_iterator(folder)) {
            std::ifstream in(f.path(), std::ios::binary);
            std::stringstream ss;
            ss << in.rdbuf();
            all += ss.str();
        }
        return all;
    }

    // The event line written for `message` with `subject` ("err", "user", date, time, subject,
    // message), found anywhere in the log.
    bool hasEventLine(const std::string& message, const std::string& subject) const {
        const std::string text = logText();
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind("err\tuser\t", 0) != 0) continue;
            const std::string tail = "\t" + subject + "\t" + message;
            if (line.size() >= tail.size() &&
                line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
                return true;
        }
        return false;
    }

    // Replaces the contents of a line edit by typing `text`.
    static void retype(QLineEdit* edit, const QString& text) {
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }

    QString lastBoxText() const {
        const auto all = boxes.boxes();
        return all.empty() ? QString() : all.back().text;
    }

    test::TempDir dir;
    TraceLog log;
    LangTable texts;
    AnsweringMessageLayer boxes;
    AdapterEntry adapter{};
};

}  // namespace lanrove::ui::testing
