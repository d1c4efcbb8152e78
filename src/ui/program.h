#pragma once
// The desktop program from process start to end: options, the application texts, the single
// instance, the core and the main window.

#include <optional>
#include <string>
#include <vector>

namespace lanrove::ui {

struct ProgramOptions {
    std::string home;            // --home DIR: the program folder
    std::string answerBoxes;     // --answer-boxes FILE: boxes answered at once, recorded
    std::string screenshotDir;   // --screenshot-dir DIR: pictures of the windows
    std::string readyFile;       // --ready-file FILE: made when the main window is ready
    bool autoSearch = false;     // --auto-search: press Search once ready
    bool quitWhenDone = false;   // --quit-when-done: close after start-up (and the search)
    bool startupReport = false;  // --startup-report: start-up times on standard error
    bool help = false;
};

// Parses the arguments after the program name; nullopt (with `error` set) on a bad one.
std::optional<ProgramOptions> parseProgramOptions(const std::vector<std::string>& args,
                                                  std::string& error);
const char* programUsage();

// Milliseconds since this process was started, from the system's own record of its start.
long long processAgeMs();

int runDesktopProgram(int argc, char** argv);

}  // namespace lanrove::ui
