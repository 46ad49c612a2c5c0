#pragma once
// The few platform specifics of the application, kept behind small functions.

#include <functional>

namespace qx {

// When the process is asked to end (SIGTERM, SIGINT, SIGHUP on Unix) the
// termination request is set at once (a running wait or pause ends at its
// next check) and `onTerminate` runs in the event loop, so the program can
// close like the operator would. Install it before anything waits.
void InstallTerminationHandler(std::function<void()> onTerminate);

// Closes every dialog on screen (message boxes, the folder picker, modal
// windows) as if cancelled, so that nothing waits for an answer.
void CloseOpenDialogs();

// The real message boxes, folder picker and web-page opener.
void InstallGuiSeams();

// Message boxes printed on standard error with their titles, every question
// answered OK: for unattended runs.
void InstallConsoleSeams();

} // namespace qx
