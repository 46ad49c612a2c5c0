// bench-flood: a device that floods the link with complete lines while the
// application idles, as the window does between operator actions (receive
// timer running, a line presented that nobody takes). The emulator runs as a
// process of its own ("qx7-emulator --flood"), so the CPU time measured here
// is the application's alone.
//
//   bench-flood [seconds]      the full-speed flood lasts this long (default 60)
//
// Prints the lines per second absorbed at full speed and the application's
// CPU share (process CPU time / wall time), then the same at fixed rates
// below it, the highest of those absorbed at under half a core, the peak
// resident memory of the run (the goal is below 100 MB), how long a read-back
// takes while the flood goes on (its replies are lost among the flood's lines,
// but it must end within its budget), and whether a read-back after each
// flood got all its replies.

#include "link/commandexchange.h"
#include "link/commlog.h"
#include "link/devicelink.h"
#include "rounds.h"
#include "state/appstate.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace {

// The flood goes on this long after the idle part, for a read-back during it.
constexpr int kExtraSeconds = 5;

struct Phase {
    bool ok = false;      // connected and flooded
    double linesPerS = 0; // absorbed during the flood
    double cpuShare = 0;  // application CPU time / wall time during the flood
    bool readBackOk = false;
    double readBackDuringMs = 0; // a read-back while the flood goes on
    int readBackDuringReplies = 0;
};

double cpuSeconds()
{
#ifdef Q_OS_UNIX
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) == 0)
        return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#endif
    return 0;
}

void runEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The number of the newest flood line in the receive state (0 when none).
qint64 newestFloodLine(const qx::CommandExchange &ex)
{
    const QByteArray tail = ex.rxBuffer().right(64);
    const qsizetype at = tail.lastIndexOf("~01@FLOOD ");
    if (at < 0)
        return 0;
    qint64 n = 0;
    for (qsizetype i = at + 10; i < tail.size() && tail[i] >= '0' && tail[i] <= '9'; ++i)
        n = n * 10 + (tail[i] - '0');
    return n;
}

// The 18 commands of a read-back and the prefixes of their replies.
QList<QPair<QByteArray, QString>> readBack()
{
    QList<QPair<QByteArray, QString>> c{{"# \r", QStringLiteral("~01@ OK")}};
    for (int w = 0; w < 4; ++w) {
        c.append({"#Y 1,302," + QByteArray::number(w) + '\r', QStringLiteral("~01@Y 1,302,")});
        c.append({"#Y 1,201\r", QStringLiteral("~01@Y 1,201,")});
    }
    for (int w = 0; w < 5; ++w) {
        if (w < 4)
            c.append({"#Y 1,300," + QByteArray::number(w) + '\r', QStringLiteral("~01@Y 1,300,")});
        c.append({"#Y 1,338," + QByteArray::number(w) + '\r', QStringLiteral("~01@Y 1,338,")});
    }
    return c;
}

// Sends the read-back's commands one after the other, each awaited by its
// prefix; returns how many got their reply.
int sendReadBack(qx::CommandExchange &ex)
{
    int replies = 0;
    for (const auto &c : readBack()) {
        ex.SendCommand(c.first);
        ex.WaitReply(c.second);
        replies += !ex.replyText().isEmpty();
    }
    return replies;
}

// One flood of `seconds` at `rate` lines per second (0: full speed) against
// the application's exchange, then a read-back once the link is quiet.
Phase flood(int seconds, qint64 rate)
{
    Phase phase;
    QProcess emulator;
    QStringList args{QStringLiteral("--tcp"), QStringLiteral("0"), QStringLiteral("--flood"),
                     QStringLiteral("--flood-seconds"), QString::number(seconds + kExtraSeconds)};
    if (rate > 0)
        args << QStringLiteral("--flood-rate") << QString::number(rate);
    emulator.start(QCoreApplication::applicationDirPath() + QStringLiteral("/qx7-emulator"), args);
    if (!emulator.waitForReadyRead(5000)) {
        std::fprintf(stderr, "bench-flood: the emulator did not start\n");
        return phase;
    }
    const QByteArray first = emulator.readLine().trimmed(); // "tcp 127.0.0.1:PORT"
    const QString port = QString::fromLatin1(first.mid(first.lastIndexOf(':') + 1));

    qx::AppState state;
    state.settings.ComPort = 0;
    state.settings.TcpSettings = QStringLiteral("127.0.0.1:") + port;
    qx::CommLog log;
    qx::DeviceLink link(state.settings);
    qx::CommandExchange ex(link, log);
    ex.OpenLink();
    ex.startReceiveTimer();
    QElapsedTimer wait;
    wait.start();
    while (link.tcpSocket().state() != QAbstractSocket::ConnectedState && wait.elapsed() < 5000)
        runEvents(10);
    int arrivals = 0;
    QObject::connect(&link, &qx::DeviceLink::socketDataArrived, [&] { ++arrivals; });

    // The first command starts the flood; then nothing waits for a line.
    ex.SendCommand("# \r");
    ex.WaitReply(QStringLiteral("~01@ OK"));
    if (ex.replyText().isEmpty()) {
        std::fprintf(stderr, "bench-flood: no reply before the flood\n");
    } else {
        const double cpu0 = cpuSeconds();
        QElapsedTimer clock;
        clock.start();
        runEvents(seconds * 1000);
        const double wall = clock.nsecsElapsed() / 1e9;
        phase.cpuShare = (cpuSeconds() - cpu0) / wall;
        phase.linesPerS = newestFloodLine(ex) / wall;
        phase.ok = phase.linesPerS > 0;

        // A read-back while the flood goes on: its replies are lost among
        // the flood's lines, but it must end within its budget.
        clock.restart();
        ex.ClearReceive();
        phase.readBackDuringReplies = sendReadBack(ex);
        phase.readBackDuringMs = clock.nsecsElapsed() / 1e6;

        // Then the flood ends, and what is still on its way drains.
        while (clock.elapsed() < kExtraSeconds * 1000)
            runEvents(100);
        for (int before = -1; before != arrivals;) {
            before = arrivals;
            runEvents(300);
        }
        ex.ClearReceive(); // as every device sequence begins
        phase.readBackOk = sendReadBack(ex) == int(readBack().size());
    }
    emulator.terminate();
    emulator.waitForFinished(5000);
    return phase;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? qMax(1, atoi(argv[1])) : 60;

    const Phase full = flood(seconds, 0);
    std::printf("flood_seconds=%d\n", seconds);
    std::printf("flood_lines_per_s=%.0f\n", full.linesPerS);
    std::printf("flood_cpu_share=%.2f\n", full.cpuShare);
    // Lines taken per second of the application's own CPU time: what one
    // core could absorb if the emulator sent faster.
    std::printf("flood_lines_per_cpu_s=%.0f\n", full.cpuShare > 0 ? full.linesPerS / full.cpuShare : 0.0);
    std::printf("flood_readback_during_ms=%.0f (%d of 18 replies)\n", full.readBackDuringMs,
                full.readBackDuringReplies);
    std::printf("flood_readback_ok=%d\n", full.readBackOk ? 1 : 0);

    // Fixed rates below full speed, a few seconds each: the highest that
    // costs under half a core.
    double halfCore = full.ok && full.cpuShare < 0.5 ? full.linesPerS : 0;
    bool allReadBacks = full.readBackOk;
    for (const double fraction : {0.5, 0.25, 0.1}) {
        const qint64 rate = qint64(full.linesPerS * fraction);
        if (rate < 1 || halfCore > 0)
            break;
        const Phase p = flood(qMin(seconds, 3), rate);
        std::printf("flood_rate_%lld_lines_per_s=%.0f cpu_share=%.2f readback_ok=%d\n", static_cast<long long>(rate),
                    p.linesPerS, p.cpuShare, p.readBackOk ? 1 : 0);
        allReadBacks = allReadBacks && p.readBackOk;
        if (p.ok && p.cpuShare < 0.5)
            halfCore = p.linesPerS;
    }
    std::printf("flood_lines_per_s_under_half_core=%.0f%s\n", halfCore,
                full.ok && full.cpuShare < 0.5 ? " (full speed: the emulator is the limit)" : "");
    std::printf("flood_peak_rss_mb=%.1f\n", qxbench::peakResidentMb());
    return full.ok && allReadBacks ? 0 : 1;
}
