// The Japanese and Chinese main window must be readable on a plain Debian desktop: every
// character of its texts gets a real glyph from the fonts Qt falls back to (an installed CJK
// font), none the empty box of a missing glyph.
#include <QTextLayout>

#include "ui_fixture.h"

namespace lanrove::ui::testing {
namespace {

// True when the font or one of its fallbacks has a real glyph (not glyph 0, the missing-glyph
// box) for every glyph of `text`.
bool drawable(const QString& text, const QFont& font) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    while (layout.createLine().isValid()) {
    }
    layout.endLayout();
    for (const QGlyphRun& run : layout.glyphRuns())
        for (const quint32 glyph : run.glyphIndexes())
            if (glyph == 0) return false;
    return true;
}

// The characters of `text` that no installed font draws.
QString missingGlyphs(const QString& text, const QFont& font) {
    QString missing;
    for (const uint ucs4 : text.toUcs4()) {
        const QString one = QString::fromUcs4(reinterpret_cast<const char32_t*>(&ucs4), 1);
        if (!one.at(0).isSpace() && !drawable(one, font)) missing += one;
    }
    return missing;
}

class FontCoverage : public UiFixture, public ::testing::WithParamInterface<unsigned> {
  protected:
    MainWindow& startIn(unsigned langId) {
        ProgramPaths paths;
        paths.folder = dir.path();
        paths.exeBaseName = "lanrove-setup_FwTool";  // every button shown
        paths.exeFileName = paths.exeBaseName;
        core = std::make_unique<SetupCore>(clock, log, paths, langId, &net, &transport);
        transport.core = core.get();
        appTexts.loadApplication(langId, paths.languageIni());
        window = std::make_unique<MainWindow>(*core, boxes, appTexts);
        QSignalSpy ready(window.get(), &MainWindow::ready);
        window->start();
        EXPECT_TRUE(ready.count() > 0 || ready.wait(5000));
        return *window;
    }
};

TEST_P(FontCoverage, MainWindowTextsHaveNoMissingGlyphs) {
    MainWindow& w = startIn(GetParam());
    QStringList texts{w.windowTitle(), w.saveListAction()->text()};
    for (const QPushButton* b : w.findChildren<QPushButton*>()) texts << b->text();
    for (const QLabel* l : w.findChildren<QLabel*>()) texts << l->text();
    for (int c = 0; c < kListColumnCount; ++c)
        texts << w.model()->headerData(c, Qt::Horizontal).toString();
    // The list's context menu (doctor, report, plan, CSV) is in the language too.
    const DefaultList& english = addedDefaults(kColumnEnglish);
    for (const QAction* a : w.listView()->actions()) {
        texts << a->text();
        for (const LangEntry& e : english)
            EXPECT_NE(a->text(), QString::fromStdU16String(e.text)) << "still English";
    }
    // And every text of the added windows and dialogs.
    for (const LangEntry& e : addedDefaults(languageColumn(GetParam())))
        texts << QString::fromStdU16String(LangTable::expandLineBreaks(e.text));
    // The texts really are in the language (not the English fall-back).
    const QString all = texts.join(QLatin1Char('|'));
    bool anyCjk = false;
    for (const QChar ch : all) anyCjk = anyCjk || ch.unicode() >= 0x3000;
    ASSERT_TRUE(anyCjk) << all.toStdString();

    for (const QString& text : texts) {
        const QString missing = missingGlyphs(text, w.font());
        EXPECT_TRUE(missing.isEmpty())
            << "no installed font draws " << missing.toStdString() << " in \"" << text.toStdString()
            << "\" (install a CJK font such as fonts-noto-cjk)";
    }
}

INSTANTIATE_TEST_SUITE_P(JapaneseAndChinese, FontCoverage,
                         ::testing::Values(kLangIdJapanese, kLangIdChineseSimplified));

}  // namespace
}  // namespace lanrove::ui::testing
