#pragma once
// The main window as the program runs it, in a temporary program folder with scripted dialogs, against an
// emulator on 127.0.0.1. Tests reach the window's controls the way the language files do: by name and index.

#include "app/mainwindow.h"
#include "app/waitwindow.h"
#include "app/warningwindow.h"
#include "emulator.h"
#include "linkrig.h"
#include "util/controls.h"

#include <memory>

namespace qxtest {

struct WindowRig {
    // Tcp: the main configuration file selects the emulator over TCP. Serial: com1 leads to the emulator's
    // pseudo-terminal. None: no settings files, so serial port 1 is tried and fails.
    enum class Link { Tcp, Serial, None };
    explicit WindowRig(const qx7emu::Options &device = {}, Link link = Link::Tcp);

    TempProgramFolder folder;
    ScriptedSeams seams;
    qx7emu::Emulator emu;
    std::unique_ptr<qx::AppCore> core; // what main() makes below the window
    std::unique_ptr<qx::MainWindow> window;
    std::unique_ptr<qx::Startup> startup; // the window's start-up and shutdown
    qx::Startup::Result result;
    int timeouts = 0; // "TIMEOUT ERROR" lines logged after the start-up

    // A new window through its start-up sequence; shown unless `arguments` asked to end.
    qx::MainWindow &start(const QStringList &arguments = {});
    bool connected() const;
    // The control of the main, wait or warning window with this name and index.
    QObject *find(const QString &name, int index = -1) const;
    template <typename T = QWidget> T *control(const QString &name, int index = -1) const
    {
        return qobject_cast<T *>(find(name, index));
    }
    // A left click where the operator clicks: on the box of a check box or option button, else in the middle.
    void click(const QString &name, int index = -1) const;
    // The Switching tab as the operator reads it: "enabled 1000 full 0000 selected 2,20,40,60,81", then
    // " marked ..." when the buttons in the mark colour are others (another colour shows as "?i"), and
    // " usable n" when not all 93 buttons and boxes are enabled.
    QString switching() const;
    bool switchingIdle() const; // no switching sequence runs or waits to run, and the tab is usable
    // Files of the program folder; a main configuration file: `lines` from line 2 on, `line50` as line 50.
    void write(const QString &name, const QByteArray &bytes) const;
    QByteArray read(const QString &name) const;
    void writeConfig(const QStringList &lines, const QString &line50 = {}) const;
};

} // namespace qxtest
