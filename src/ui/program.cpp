#include "ui/program.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QPainter>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/language.h"
#include "app/setup_core.h"
#include "support/program_paths.h"
#include "ui/camera_table_model.h"
#include "ui/firmware_update_dialog.h"
#include "ui/instance_lock.h"
#include "ui/main_window.h"
#include "ui/message_layer.h"
#include "ui/plan_dialog.h"
#include "ui/search_window.h"

namespace lanrove::ui {

namespace {

int g_signalPipe[2] = {-1, -1};

void onStopSignal(int) {
    const char byte = 1;
    // Nothing to do about a full pipe: one byte is enough.
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the program in order (workers stopped, last trace line) instead of
// killing it mid-write.
std::unique_ptr<QSocketNotifier> installStopSignals(MainWindow& window) {
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    auto notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &window, [&window] {
        char buffer[16];
        while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        window.requestStop();
    });
    return notifier;
}

void savePicture(QWidget* widget, const std::string& dir, const char* name) {
    if (widget == nullptr || dir.empty()) return;
    QDir().mkpath(QString::fromStdString(dir));
    const QString file = QDir(QString::fromStdString(dir)).filePath(QString::fromLatin1(name));
    if (!widget->grab().save(file))
        std::fprintf(stderr, "lanrove-setup: cannot save %s\n", qPrintable(file));
}

// The main window with a dialog drawn where it stands over it, framed, since a virtual screen
// without a window manager draws no frame around it.
void savePictureWithDialog(QWidget* window, QWidget* dialog, const std::string& dir,
                           const char* name) {
    if (window == nullptr || dialog == nullptr || dir.empty()) return;
    const QPixmap main = window->grab();
    const QPixmap top = dialog->grab();
    const QPoint at = dialog->mapToGlobal(QPoint(0, 0)) - window->mapToGlobal(QPoint(0, 0));
    const QRect dialogRect(at, top.size() / top.devicePixelRatio());
    const QRect all = QRect(QPoint(0, 0), main.size() / main.devicePixelRatio())
                          .united(dialogRect.adjusted(-1, -1, 1, 1));
    QPixmap picture(all.size() * main.devicePixelRatio());
    picture.setDevicePixelRatio(main.devicePixelRatio());
    picture.fill(window->palette().color(QPalette::Dark));
    {
        QPainter painter(&picture);
        painter.translate(-all.topLeft());
        painter.drawPixmap(QPoint(0, 0), main);
        painter.drawPixmap(at, top);
        painter.setPen(window->palette().color(QPalette::Shadow));
        painter.drawRect(dialogRect.adjusted(-1, -1, 0, 0));
    }
    QDir().mkpath(QString::fromStdString(dir));
    const QString file = QDir(QString::fromStdString(dir)).filePath(QString::fromLatin1(name));
    if (!picture.save(file))
        std::fprintf(stderr, "lanrove-setup: cannot save %s\n", qPrintable(file));
}

// Some camera's image is on its way or being written: the moment the update picture shows.
bool someCameraSending(const FirmwareControl& control) {
    const int count = std::min(control.firmRecordCount(), static_cast<int>(kCameraTableSize));
    for (int i = 0; i < count; ++i) {
        const std::uint16_t status = control.firmProgress(i).uploadStatus;
        if (status == 4100 || status == 4101) return true;
    }
    return false;
}

}  // namespace

const char* programUsage() {
    return "usage: lanrove-setup [--home DIR]\n"
           "  --home DIR           program folder (settings, Language.ini, IPLog); default:\n"
           "                       the executable's folder, or LANROVE_HOME\n"
           "Test switches, for automated tests and demonstrations only, never on a site:\n"
           "  --answer-boxes FILE  TEST: answer every message box at once and record it in\n"
           "                       FILE (or LANROVE_ANSWER_BOXES); questions are answered No\n"
           "  --yes                TEST: answer every question Yes, destructive ones too\n"
           "  --screenshot-dir DIR TEST: save pictures of the windows there\n"
           "  --ready-file FILE    TEST: write FILE once the main window is ready\n"
           "  --auto-search        TEST: search as soon as the window is ready\n"
           "  --quit-when-done     TEST: close the window when the start-up or search ends\n"
           "  --auto-firmware-update TEST: after the search press F/W Check, F/W Update and\n"
           "                       Execute (maintenance edition; only with --answer-boxes or\n"
           "                       --yes, and the update's question is Yes only with --yes)\n"
           "  --auto-plan FILE     TEST: after the search open the address plan FILE's\n"
           "                       preview, picture it and cancel it (nothing is sent)\n"
           "  --startup-report     TEST: tell on standard error how long start-up took\n";
}

std::optional<ProgramOptions> parseProgramOptions(const std::vector<std::string>& args,
                                                  std::string& error) {
    ProgramOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        if (a == "--home") {
            if (!value(o.home)) return std::nullopt;
        } else if (a == "--answer-boxes") {
            if (!value(o.answerBoxes)) return std::nullopt;
        } else if (a == "--screenshot-dir") {
            if (!value(o.screenshotDir)) return std::nullopt;
        } else if (a == "--auto-plan") {
            if (!value(o.autoPlan)) return std::nullopt;
        } else if (a == "--ready-file") {
            if (!value(o.readyFile)) return std::nullopt;
        } else if (a == "--yes") {
            o.answerYes = true;
        } else if (a == "--auto-search") {
            o.autoSearch = true;
        } else if (a == "--auto-firmware-update") {
            o.autoFirmware = true;
        } else if (a == "--quit-when-done") {
            o.quitWhenDone = true;
        } else if (a == "--startup-report") {
            o.startupReport = true;
        } else if (a == "-h" || a == "--help") {
            o.help = true;
        } else {
            error = "unknown option " + a;
            return std::nullopt;
        }
    }
    return o;
}

long long processAgeMs() {
    // Field 22 of /proc/self/stat: start time in clock ticks after boot. The command name in
    // field 2 may hold blanks, so count from its closing parenthesis.
    std::ifstream stat("/proc/self/stat");
    std::string line;
    if (!std::getline(stat, line)) return -1;
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    unsigned long long startTicks = 0;
    for (int n = 3; n <= 22 && (rest >> field); ++n)
        if (n == 22) startTicks = std::strtoull(field.c_str(), nullptr, 10);
    const long ticks = ::sysconf(_SC_CLK_TCK);
    timespec now{};
    if (startTicks == 0 || ticks <= 0 || ::clock_gettime(CLOCK_BOOTTIME, &now) != 0) return -1;
    const long long nowMs = static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    return nowMs -
           static_cast<long long>(startTicks * 1000 / static_cast<unsigned long long>(ticks));
}

std::unique_ptr<AnsweringMessageLayer> makeScriptedMessageLayer(const ProgramOptions& options,
                                                                const char* envAnswerFile) {
    std::string file = options.answerBoxes;
    if (file.empty() && envAnswerFile != nullptr) file = envAnswerFile;
    if (file.empty() && !options.answerYes) return nullptr;
    return std::make_unique<AnsweringMessageLayer>(
        file, options.answerYes ? QuestionAnswer::Positive : QuestionAnswer::Negative);
}

std::string testSwitchWarning(const ProgramOptions& options, bool answering) {
    if (!answering) return {};
    if (options.answerYes)
        return "warning: test switch --yes: every question, destructive ones too, is answered Yes";
    return "warning: test switch --answer-boxes (or LANROVE_ANSWER_BOXES): message boxes are "
           "answered without being shown";
}

bool guardSingleInstance(InstanceLock& lock, const std::filesystem::path& folder,
                         const std::string& baseName, MessageLayer& messages,
                         const LangTable& appTexts, std::string& traceNote) {
    traceNote.clear();
    const InstanceLock::Result locked = lock.acquire(folder, baseName);
    if (locked == InstanceLock::Result::AlreadyRunning) {
        messages.show(
            nullptr, BoxIcon::Warning,
            QString::fromStdU16String(appTexts.lookup(u"APP_WINDOW", u"ERROR_TITLE")),
            QString::fromStdU16String(appTexts.lookup(u"APP_WINDOW", u"MULTISTART_WARNING")));
        return false;
    }
    if (locked == InstanceLock::Result::Unavailable) {
        // The log does not exist yet: standard error now, the trace line later.
        const std::string file = InstanceLock::lockFile(folder, baseName).string();
        std::fprintf(stderr, "lanrove-setup: cannot use the lock file %s; running unguarded\n",
                     file.c_str());
        traceNote = "Instance lock file unusable (" + file + "): running without the guard.";
    }
    return true;
}

int runDesktopProgram(int argc, char** argv) {
    // Help needs no display, so it is answered before Qt opens one. Qt's own options (such as
    // -platform) make this first reading fail; they are read again once Qt has taken them.
    {
        std::string ignored;
        const std::optional<ProgramOptions> early =
            parseProgramOptions(std::vector<std::string>(argv + 1, argv + argc), ignored);
        if (early && early->help) {
            std::fputs(programUsage(), stdout);
            return 0;
        }
    }
    QApplication app(argc, argv);
    // The program ends when its main window has finished, not when the splash goes away.
    QApplication::setQuitOnLastWindowClosed(false);

    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    std::string error;
    const std::optional<ProgramOptions> parsed = parseProgramOptions(args, error);
    if (!parsed) {
        std::fprintf(stderr, "lanrove-setup: %s\n%s", error.c_str(), programUsage());
        return 2;
    }
    const ProgramOptions& options = *parsed;
    if (options.help) {
        std::fputs(programUsage(), stdout);
        return 0;
    }

    const ProgramPaths paths = ProgramPaths::resolve(argv[0], options.home);
    const unsigned langId = langIdFromLocale();
    LangTable appTexts;
    appTexts.loadApplication(langId, paths.languageIni());

    QtMessageLayer qtBoxes;
    const std::unique_ptr<AnsweringMessageLayer> answering =
        makeScriptedMessageLayer(options, std::getenv("LANROVE_ANSWER_BOXES"));
    MessageLayer& messages = answering ? static_cast<MessageLayer&>(*answering) : qtBoxes;

    InstanceLock lock;
    std::string lockNote;
    if (!guardSingleInstance(lock, InstanceLock::defaultFolder(), paths.exeBaseName, messages,
                             appTexts, lockNote))
        return 0;

    TraceLog log;
    SetupCore core(defaultClock(), log, paths, langId);
    core.setOnvifProbing(true);
    MainWindow window(core, messages, appTexts);
    if (!lockNote.empty()) window.addStartupTrace(lockNote);
    // Said on standard error now and in the trace log once it exists: the lab's clock or the
    // tests' answers must never pass unnoticed on a site.
    if (const std::string warning = timeScaleWarning(); !warning.empty())
        std::fprintf(stderr, "lanrove-setup: %s\n", warning.c_str());
    if (const std::string warning = testSwitchWarning(options, answering != nullptr);
        !warning.empty()) {
        std::fprintf(stderr, "lanrove-setup: %s\n", warning.c_str());
        window.addStartupTrace(warning);
    }
    const auto stopSignals = installStopSignals(window);

    QObject::connect(&window, &MainWindow::finished, &app, [&app](int code) {
        QMetaObject::invokeMethod(
            &app, [code] { QApplication::exit(code); }, Qt::QueuedConnection);
    });
    QObject::connect(&window, &MainWindow::ready, &window, [&] {
        if (options.startupReport) {
            const long long age = processAgeMs();
            std::fprintf(stderr,
                         "lanrove-setup: main window ready %lld ms after process start; network "
                         "check %lld ms; start-up without the check %lld ms\n",
                         age, static_cast<long long>(window.networkCheckMs()),
                         age - static_cast<long long>(window.networkCheckMs()));
        }
        if (!options.readyFile.empty()) {
            QFile ready(QString::fromStdString(options.readyFile));
            if (ready.open(QIODevice::WriteOnly)) ready.write("ready\n");
        }
        savePicture(&window, options.screenshotDir, "main-window.png");
        if (options.autoSearch) {
            QTimer::singleShot(0, &window, [&window] { window.onSearch(); });
        } else if (options.quitWhenDone) {
            QTimer::singleShot(0, &window, [&window] { window.close(); });
        }
    });
    QObject::connect(&window, &MainWindow::searchWindowOpened, &window, [&](SearchWindow* w) {
        // A picture once the bar has moved a few steps.
        if (options.screenshotDir.empty()) return;
        QTimer::singleShot(static_cast<int>(core.clock().scaledMs(3500)), w, [w, &options] {
            savePicture(w, options.screenshotDir, "search-window.png");
        });
    });
    // The firmware run presses buttons that ask questions: never without a layer answering
    // them, and the update's own question is Yes only with --yes.
    const bool autoFirmware = options.autoFirmware && answering != nullptr;
    if (options.autoFirmware && !autoFirmware)
        std::fprintf(stderr,
                     "lanrove-setup: --auto-firmware-update ignored: it needs "
                     "--answer-boxes or --yes\n");
    bool firmwarePictured = false;
    QObject::connect(&window, &MainWindow::settingDialogOpened, &window, [&](QDialog* dialog) {
        if (auto* plan = qobject_cast<PlanDialog*>(dialog);
            plan != nullptr && !options.autoPlan.empty() && plan->cancelButton() != nullptr &&
            plan->executeButton() != nullptr) {
            // The preview: pictured once shown, then cancelled, so nothing is sent.
            QTimer::singleShot(0, plan, [plan, &options] {
                // Wide enough for every column, as a user would pull it, so that the
                // reasons of the refused rows show in the picture.
                QTableWidget* table = plan->table();
                const int extra = plan->width() - table->viewport()->width();
                const int wanted =
                    table->verticalHeader()->width() + table->horizontalHeader()->length() + extra;
                plan->resize(std::min(std::max(plan->width(), wanted), 1260), plan->height());
                savePicture(plan, options.screenshotDir, "plan-preview.png");
                plan->cancelButton()->click();
            });
            return;
        }
        auto* firm = qobject_cast<CFirmUpload*>(dialog);
        if (firm == nullptr || !autoFirmware || firm->mode() != FirmDialogMode::Update) return;
        QTimer::singleShot(0, firm, [firm] { firm->executeButton()->click(); });
        QObject::connect(firm, &CFirmUpload::uploadStarted, firm, [&, firm](long result) {
            FirmwareControl* control = core.firmwareControl();
            if (result != 0 || control == nullptr || options.screenshotDir.empty()) return;
            // Polled until the rows show their stages while a camera is sending; the timer
            // goes with the dialog.
            // The first such moment is kept unless a later one also has the bar moved.
            auto* poll = new QTimer(firm);
            QObject::connect(poll, &QTimer::timeout, firm, [&, firm, poll, control] {
                if (!window.model()->hasStages() || !someCameraSending(*control)) return;
                const bool barMoved = firm->progressBar()->value() > 0;
                if (barMoved || !firmwarePictured) {
                    // The stages beside the status texts in full, as a user would widen
                    // the column.
                    window.listView()->resizeColumnToContents(kColStatus);
                    savePictureWithDialog(&window, firm, options.screenshotDir,
                                          "firmware-update.png");
                    firmwarePictured = true;
                }
                if (barMoved) poll->stop();
            });
            poll->start(static_cast<int>(core.clock().scaledMs(100)));
        });
    });
    bool searchedOnce = false;
    QObject::connect(&window, &MainWindow::searchFinished, &window, [&] {
        if (searchedOnce) return;
        searchedOnce = true;
        savePicture(&window, options.screenshotDir, "main-window-after-search.png");
        QTimer::singleShot(0, &window, [&] {
            // Each press returns once its dialog has closed.
            if (!options.autoPlan.empty())
                window.applyPlanFile(QString::fromStdString(options.autoPlan));
            if (autoFirmware) {
                QPushButton* check = window.button(kIdFirmCheck);
                if (check != nullptr && check->isVisible() && check->isEnabled()) check->click();
                QPushButton* update = window.button(kIdFirmUpdate);
                if (update != nullptr && update->isVisible() && update->isEnabled())
                    update->click();
                else
                    std::fprintf(stderr,
                                 "lanrove-setup: F/W Update is off: no camera has an "
                                 "update ready\n");
            }
            if (options.quitWhenDone) window.close();
        });
    });

    window.start();
    if (window.splash() != nullptr && window.splash()->isVisible())
        savePicture(window.splash(), options.screenshotDir, "splash.png");
    const int code = QApplication::exec();
    return code;
}

}  // namespace lanrove::ui
