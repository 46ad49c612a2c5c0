#pragma once
// Test helpers: the application's side of a link, a temporary program folder, and scripted dialogs so no test
// ever blocks on a message box, a browser or a sleep.

#include "link/commandexchange.h"
#include "link/commlog.h"
#include "link/devicelink.h"
#include "state/appstate.h"
#include "util/seams.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QTemporaryDir>
#include <QUrl>

namespace qxtest {

// Scripted seams for its lifetime: message boxes recorded and answered from `answers` (then OK), pauses as
// `pauses` says (none unless given), the serial ports of `ports` (no stable names unless a test gives their
// folder), URLs, exit requests and modal windows (accepted) recorded, the folder
// picker returning its start. A termination request left by a test is cleared.
struct ScriptedSeams {
    ScriptedSeams();
    ~ScriptedSeams();
    QList<QPair<QString, QString>> boxes; // (text, title) in order
    QList<bool> answers;
    QHash<int, int> pauses; // designed length -> length in this test (ms)
    QList<qx::SystemSerialPort> ports;
    QList<QUrl> urls;
    QList<int> exits;
    QList<QStringList> modals; // each modal window shown: title, then its labWARNING and labTEXT
};

// A temporary folder that stands in as the program folder for its lifetime. Its com1..com255 entries lead
// nowhere until a test links one to the emulator.
struct TempProgramFolder {
    TempProgramFolder();
    ~TempProgramFolder();
    QString path() const { return dir.path(); }
    QString file(const QString &name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

// A file's bytes, empty when it cannot be read; all of `bytes` written to a file, or false.
QByteArray ReadFile(const QString &path);
bool WriteFile(const QString &path, const QByteArray &bytes);

// The time of day in milliseconds of the first line of an emulator log that contains `needle`; -1 when none.
qint64 EmulatorLogTime(const QString &logFile, const QByteArray &needle);

// The application's side of the link, pointed at 127.0.0.1:port or at a com<n> link in the program folder.
struct LinkRig {
    qx::AppState state;
    qx::CommLog log;
    qx::DeviceLink link{state.settings};
    qx::CommandExchange ex{link, log};

    bool openTcp(quint16 port); // opens TCP to 127.0.0.1:port and waits until connected; false on failure
    bool openSerial(int n);     // opens serial port n; the program folder must hold com<n>
    QString ask(const QByteArray &text, const QString &prefix); // SendCommand(text), WaitReply(prefix): ReplyText
};

} // namespace qxtest
