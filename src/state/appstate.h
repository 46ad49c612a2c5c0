#pragma once
// Application-wide state shared by the subsystems: the settings, the
// command-line requests and the message table. One instance lives for the
// whole run, owned by the main window.

#include "language/messagetable.h"
#include "settings/settings.h"

#include <QString>

namespace qx {

// What the command line asked for: read once by main, handed to the start-up,
// never changed afterwards.
struct CommandLineRequests {
    QString ConfigPathOverride; // "i:" / --config
    QString LoadFileRequest;    // "/f:" / --file
    qint32 LoadBankRequest = 0; // bank index 0..3
    bool CommandRequested = false;
    QString CommandRequest;   // "/c:" / --command, without terminator
    qint32 PresetRequest = 0; // --preset: preset 1..16 to recall, 0 none
    quint16 ControlPort = 0;  // --control-port: the remote control on this port for this run, 0 none
    bool ExitRequest = false;
    bool HelpRequest = false;
    // --wait: a run handed over waits at most this many seconds behind a
    // question open in the running program, then it is refused; -1 as long
    // as its sender waits.
    qint32 QuestionWait = -1;
    // Long options with --exit: the run ends by itself, so nobody answers a
    // dialog; messages go to standard error and the exit status tells the outcome.
    bool Unattended = false;
    bool VersionRequest = false; // --version
    bool UsageRequest = false;   // --help
};

struct AppState {
    Settings settings;
    CommandLineRequests cmd;
    MessageTable msg;
};

} // namespace qx
