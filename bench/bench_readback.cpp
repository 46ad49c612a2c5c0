// How long the Switching page's read-back takes against the emulator on
// loopback TCP, next to the same 18 exchanges done as plain blocking socket
// round trips. The read-back runs through the command exchange, which pumps
// the interface's events while it waits; the ratio shows what that costs. The
// two are measured in alternating rounds, each on its own connection.
//
//   bench-readback [repetitions per round]      (default 200)
// Last line: readback_ratio=<median over the rounds of read-back time /
// blocking time>; 2 or below is the goal.

#include "app/switchingpage.h"
#include "app/waitwindow.h"
#include "emulator.h"
#include "link/commandexchange.h"
#include "link/commlog.h"
#include "link/devicesession.h"
#include "rounds.h"
#include "state/appstate.h"
#include "state/requestrunner.h"
#include "util/controls.h"
#include "util/seams.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QRadioButton>
#include <QTcpSocket>
#include <QWidget>
#include <cstdio>
#include <functional>

namespace {

// The 18 exchanges of a read-back with all four windows enabled and full screen on.
QList<QByteArray> readBackCommands()
{
    QList<QByteArray> c{"# \r"};
    for (int w = 0; w < 4; ++w)
        c << "#Y 1,302," + QByteArray::number(w) + '\r' << "#Y 1,201\r";
    for (int w = 0; w < 4; ++w)
        c << "#Y 1,300," + QByteArray::number(w) + '\r' << "#Y 1,338," + QByteArray::number(w) + '\r';
    c << "#Y 1,338,4\r";
    return c;
}

// One command, then blocking reads until its reply line is complete.
bool roundTrip(QTcpSocket &socket, QByteArray &pending, const QByteArray &command)
{
    socket.write(command);
    for (;;) {
        int end;
        while ((end = int(pending.indexOf('\n'))) >= 0) {
            const QByteArray line = pending.left(end).trimmed();
            pending.remove(0, end + 1);
            if (line.startsWith("~01@"))
                return true;
        }
        if (!socket.waitForReadyRead(5000))
            return false;
        pending += socket.readAll();
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int repetitions = argc > 1 ? qMax(1, atoi(argv[1])) : 200;
    qx::seams().messageBox = [](const QString &, const QString &, bool) { return true; };

    qx7emu::Emulator emulator;
    const quint16 port = emulator.listenTcp();
    if (port == 0) {
        std::fprintf(stderr, "bench-readback: the emulator cannot listen\n");
        return 1;
    }
    qx7emu::DeviceState device;
    for (int w = 0; w < 4; ++w) {
        device.windows[w].enabled = true;
        device.windows[w].input = 3 * w;
        device.windows[w].bank = w == 2 ? 2 : 0;
    }
    device.fullScreen = 1;
    device.backgroundBank = 3;
    emulator.setState(device);

    // The application's side, as the main window has it.
    qx::AppState state;
    state.settings.ComPort = 0;
    state.settings.TcpSettings = QStringLiteral("127.0.0.1:%1").arg(port);
    qx::CommLog log;
    qx::DeviceSession session(state.settings, log);
    session.open();
    if (!session.waitConnected(5000)) {
        std::fprintf(stderr, "bench-readback: no connection to the emulator\n");
        return 1;
    }
    QWidget window;
    qx::RegisterControl(&window, &window, QStringLiteral("frmMAIN"), qx::ControlKind::Window);
    auto *frameSWITCH = new QWidget(&window);
    qx::WaitWindow wait(&window);
    qx::RequestRunner runner(state, log, session);
    qx::SwitchingPage page(&window, frameSWITCH, state, runner, QColor(192, 192, 192), QColor(128, 128, 128), wait);

    // Warm up both ways, and check that a read-back is the 18 exchanges measured against.
    page.RefreshSwitchState();
    emulator.clearReceived();
    page.RefreshSwitchState();
    const int perReadBack = int(emulator.commands().size());
    if (perReadBack != 18) {
        std::fprintf(stderr, "bench-readback: a read-back sent %d commands, not 18\n", perReadBack);
        return 1;
    }

    // The same exchanges as plain blocking round trips on a connection of
    // their own (the application's stays open and idle meanwhile).
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(5000)) {
        std::fprintf(stderr, "bench-readback: the blocking socket cannot connect\n");
        return 1;
    }
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const QList<QByteArray> commands = readBackCommands();
    QByteArray pending;
    const auto blockingReadBack = [&] {
        for (const QByteArray &c : commands)
            if (!roundTrip(socket, pending, c)) {
                std::fprintf(stderr, "bench-readback: no reply to %s\n", c.trimmed().constData());
                return false;
            }
        return true;
    };
    if (!blockingReadBack())
        return 1;

    QList<double> readBackMs, blockingMs, ratios;
    QElapsedTimer clock;
    for (int round = 0; round < qxbench::kQuickRounds; ++round) {
        clock.restart();
        for (int r = 0; r < repetitions; ++r)
            page.RefreshSwitchState();
        readBackMs << double(clock.nsecsElapsed()) / 1e6 / repetitions;
        // Sanity: the page shows the device's state (a time-out would read as 0).
        const auto checked = [&](const char *name, int index) {
            return qx::Control<QAbstractButton>(&window, QString::fromLatin1(name), index)->isChecked();
        };
        if (!checked("chkWINFULL", 3) || !checked("optWIN1INP", 57) || !checked("optWIN1INP", 82)) {
            std::fprintf(stderr, "bench-readback: the read-back did not show the device's state\n");
            return 1;
        }
        clock.restart();
        for (int r = 0; r < repetitions; ++r)
            if (!blockingReadBack())
                return 1;
        blockingMs << double(clock.nsecsElapsed()) / 1e6 / repetitions;
        ratios << readBackMs.last() / blockingMs.last();
    }

    std::printf("repetitions=%d exchanges_per_readback=%d\n", repetitions, perReadBack);
    std::printf("readback_ms=%.3f (RefreshSwitchState through the command exchange, median)\n",
                qxbench::median(readBackMs));
    std::printf("blocking_ms=%.3f (18 blocking socket round trips, median)\n", qxbench::median(blockingMs));
    std::printf("readback_ratio_rounds=%s\n", qxbench::listed(ratios).constData());
    std::printf("readback_ratio=%.2f\n", qxbench::median(ratios));
    return 0;
}
