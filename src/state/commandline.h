#pragma once
// The command line. Two forms:
//  - the switch form, one text cut at "/": "/f:file /b:2 /c:command /e",
//    "i:config", "h", "?" or "help". Each switch is lower-cased whole, so
//    file names arrive in lower case (see ResolvePathIgnoringCase).
//  - the long-option form for scripts, chosen when the first argument begins
//    with "--": --file PATH, --bank N, --command TEXT, --preset N, --exit,
//    --config PATH, --control-port N, --wait SECONDS, --help, --version.
//    Values keep their case and may contain "/".

#include "state/appstate.h"

#include <QString>
#include <QStringList>

namespace qx {

// The longest --wait, in seconds (an hour).
constexpr int kMaxQuestionWait = 3600;

// The argument text of the switch form: the arguments joined by single blanks.
QString ArgumentText(const QStringList &argumentsWithoutProgram);

// Reads the switch form into `req`. Resets every request except
// CommandRequest. A "/b:" value that is not a number ends the reading at that
// switch; the switches before it keep their effect.
void ParseCommandLine(const QString &argumentText, CommandLineRequests &req);

// `path` when it exists as given; otherwise the one entry of its folder (the
// folder resolved the same way, component by component) whose name equals
// the last component without regard to case. No match or several matches:
// `path` unchanged. "\" separates components as "/" does (the switch form
// cannot carry "/"); a resolved path is written with "/".
QString ResolvePathIgnoringCase(const QString &path);

// Picks the form by the first argument and fills `req`. The switch form never
// fails; afterwards the "/f:" file and the "i:" path are looked up without
// regard to case. The long-option form with --exit sets Unattended; it returns false with
// a one-line reason in `error` for an unknown option, a stray argument or a
// missing or invalid value (the caller prints it with the usage and exits 2).
bool ParseArguments(const QStringList &argsWithoutProgram, CommandLineRequests &req, QString *error);

// "QX-7alt 1.0.7", printed for --version.
QString VersionLine();

} // namespace qx
