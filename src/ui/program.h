#pragma once
// The desktop program from process start to end: options, the application texts, the single
// instance, the core and the main window.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/lang_table.h"
#include "ui/instance_lock.h"
#include "ui/message_layer.h"

namespace lanrove::ui {

struct ProgramOptions {
    std::string home;            // --home DIR: the program folder
    std::string answerBoxes;     // --answer-boxes FILE: boxes answered at once, recorded
    bool answerYes = false;      // --yes: answered questions get Yes (Ok), not No (Cancel)
    std::string screenshotDir;   // --screenshot-dir DIR: pictures of the windows
    std::string readyFile;       // --ready-file FILE: made when the main window is ready
    bool autoSearch = false;     // --auto-search: press Search once ready
    bool quitWhenDone = false;   // --quit-when-done: close after start-up (and the search)
    bool startupReport = false;  // --startup-report: start-up times on standard error
    bool autoFirmware = false;   // --auto-firmware-update: F/W Check, F/W Update, Execute
    std::string autoPlan;        // --auto-plan FILE: the plan's preview, pictured, cancelled
    bool help = false;
};

// Parses the arguments after the program name; nullopt (with `error` set) on a bad one.
std::optional<ProgramOptions> parseProgramOptions(const std::vector<std::string>& args,
                                                  std::string& error);
const char* programUsage();

// Milliseconds since this process was started, from the system's own record of its start.
long long processAgeMs();

// The layer that answers boxes for a scripted run (--answer-boxes FILE, else `envAnswerFile`
// from LANROVE_ANSWER_BOXES, or --yes alone), or null when the boxes go to the user. Questions
// are answered No (Cancel) unless --yes was given on the command line; no variable or other
// switch can make them answer Yes.
std::unique_ptr<AnsweringMessageLayer> makeScriptedMessageLayer(const ProgramOptions& options,
                                                                const char* envAnswerFile);

// The warning given at start when a scripted layer answers the boxes (`answering`): which
// test switch is on. Empty for an ordinary start.
std::string testSwitchWarning(const ProgramOptions& options, bool answering);

// The single-instance step of start-up. False after the warning box when another copy of the
// same name runs. True otherwise; when the lock file cannot be used the program runs without
// the guard and `traceNote` holds the line to write once the trace log exists.
bool guardSingleInstance(InstanceLock& lock, const std::filesystem::path& folder,
                         const std::string& baseName, MessageLayer& messages,
                         const LangTable& appTexts, std::string& traceNote);

int runDesktopProgram(int argc, char** argv);

}  // namespace lanrove::ui
