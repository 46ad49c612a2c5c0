#pragma once
// The few platform specifics of the application, kept behind small functions.

#include <functional>

namespace qx {

// First thing in main: from then on a request to end the process (SIGTERM,
// SIGINT, SIGHUP on Unix, also one sent before and held blocked) sets the
// termination request at once; a running wait or pause ends at its next check.
void InstallTerminationHandler();
// Once the window exists: `onTerminate` runs in the event loop after each such
// request, also one that came before, so the program closes like the operator
// would.
void OnTermination(std::function<void()> onTerminate);

// Closes every dialog on screen (message boxes, the folder picker, modal
// windows) as if cancelled, so that nothing waits for an answer.
void CloseOpenDialogs();

// The real message boxes, folder picker and web-page opener.
void InstallGuiSeams();

// Message boxes printed on standard error with their titles, every question
// answered OK: for unattended runs.
void InstallConsoleSeams();

} // namespace qx
