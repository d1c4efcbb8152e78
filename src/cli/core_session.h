#pragma once
// What the commands that work on the found cameras share: the core set up as the desktop
// program's start-up sets it up (edition, settings, trace log, texts, adapters), the search as
// the Search button runs it, Ctrl-C, and the confirmation on the terminal.

#include <string>

#include "app/event_queue.h"
#include "app/setup_core.h"
#include "support/trace_log.h"

namespace lanrove::cli {

// Ctrl-C and SIGTERM set a flag instead of ending the tool, so that a run ends in order.
void catchInterrupts();
bool interrupted();

// Whether there is a terminal on standard input to ask on.
bool canConfirm();
// Shows the question with [y/N] on standard error; only y or yes answers Yes, so a bare Enter
// (or the end of input) answers No.
bool confirm(const std::string& message);

class CoreSession {
  public:
    CoreSession(const char* argv0, const std::string& home);
    // Stops every worker (the stop procedure) and writes the last trace line.
    ~CoreSession();
    CoreSession(const CoreSession&) = delete;
    CoreSession& operator=(const CoreSession&) = delete;

    SetupCore& core() { return m_core; }
    EventQueue& queue() { return m_queue; }

    // Keeps only the named adapter; false when there is none of that name.
    bool useInterface(const std::string& name);
    // The search as the Search button runs it, its rows added on this thread; false when
    // Ctrl-C cancelled it. Unless `quiet`, tells the number of cameras on standard error.
    bool search(bool quiet);
    // Runs the calls that workers queued, waiting up to `d` for the first.
    void drain(Millis d) { m_queue.drain(d); }

  private:
    TraceLog m_log;
    SetupCore m_core;
    EventQueue m_queue;
};

}  // namespace lanrove::cli
