#pragma once
// The few platform specifics of the application, kept behind small functions.

#include <functional>

namespace qx {

// Runs `onTerminate` in the event loop when the process is asked to end
// (SIGTERM, SIGINT, SIGHUP on Unix), so it can close like the operator would.
void InstallTerminationHandler(std::function<void()> onTerminate);

// The real message boxes, folder picker, web-page opener and sleeps.
void InstallGuiSeams();

// Message boxes printed on standard error with their titles, every question
// answered OK: for unattended runs.
void InstallConsoleSeams();

} // namespace qx
