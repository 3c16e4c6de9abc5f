// The desktop program from the shown window to its end, as main runs it.
// The end is asked for by Exit, ESC, Terminate in the tray menu or a stop
// signal. From that moment the engine starts nothing more, and every event
// loop ends, however many modal dialogs are open and whether or not they
// agree to close; then the session ends, waiting a bounded time for the
// jobs still running.
#pragma once

namespace orvalin::desktop {

class DesktopSession;

enum class ProgramEnd {
    kClean,
    // Checks or mail jobs outlived the wait: the process must end at once,
    // before static destructors and library clean-up run under them.
    kJobsStillRunning,
};

ProgramEnd RunProgram(DesktopSession& session);

}  // namespace orvalin::desktop
