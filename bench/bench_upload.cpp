// Bank upload throughput: the application's upload of a 1920 x 1200 picture
// into an in-process emulator, against the same number of plain blocking
// 150-byte exchanges with a fresh emulator, over loopback TCP and over a
// pseudo-terminal, in alternating rounds (the run whose time is the median is
// printed for each). Also prints the peak resident memory of the run.
//
//   bench-upload [divisor]   divisor > 1 shrinks the picture for a quick run
//
// Last line: upload_ratio=<median over the rounds of application time / plain
// time> (TCP).

#include "banks/imageroutines.h"
#include "banks/picture.h"
#include "banks/upload.h"
#include "emulator.h"
#include "link/commandexchange.h"
#include "link/commlog.h"
#include "link/devicelink.h"
#include "rounds.h"
#include "state/appstate.h"
#include "util/seams.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

namespace {

struct Run {
    bool ok = false;
    int packets = 0;
    double seconds = 0;
    double rate() const { return seconds > 0 ? packets / seconds : 0; }
};

QByteArray bankImage(int width, int height)
{
    QVector<quint32> pixels(width * height);
    QRandomGenerator random(99);
    for (quint32 &c : pixels)
        c = random.generate() & 0xFFFFFF;
    return qx::ConvertPixels(pixels, width, height);
}

// The application's side: state, log, link and exchange, as the window has them.
Run applicationUpload(qx7emu::Emulator &emu, const QByteArray &image, int width, int height, int comPort)
{
    qx::AppState state;
    state.settings.ComPort = comPort;
    if (comPort == 0)
        state.settings.TcpSettings = QStringLiteral("127.0.0.1:%1").arg(emu.listenTcp());
    qx::CommLog log;
    qx::DeviceLink link(state.settings);
    qx::CommandExchange ex(link, log);
    const qx::LinkOpenResult opened = ex.OpenLink();
    ex.startReceiveTimer();
    Run run;
    if (opened != qx::LinkOpenResult::Opened)
        return run;
    if (comPort == 0) {
        QElapsedTimer wait;
        wait.start();
        while (link.tcpSocket().state() != QAbstractSocket::ConnectedState && wait.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (link.tcpSocket().state() != QAbstractSocket::ConnectedState)
            return run;
    }

    const qx::PacketPlan plan = qx::PlanPackets(width, height);
    QElapsedTimer clock;
    clock.start();
    const qx::UploadOutcome outcome = qx::UploadImage(ex, state.msg, image, width, height, 0);
    run.seconds = clock.nsecsElapsed() / 1e9;
    run.packets = plan.P + (plan.R > 0 ? 1 : 0);
    run.ok = outcome == qx::UploadOutcome::Done;
    return run;
}

// Reads until one whole line has arrived.
template <typename Device> bool readLine(Device &device)
{
    while (!device.canReadLine()) {
        if (!device.waitForReadyRead(5000))
            return false;
    }
    device.readLine();
    return true;
}

// The same exchanges without the application: "#LDIM", then each packet
// written and its acknowledgement line awaited with blocking calls.
template <typename Device> Run plainExchanges(Device &device, const QByteArray &image, int width, int height)
{
    Run run;
    const qx::PacketPlan plan = qx::PlanPackets(width, height);
    device.write(qx::LdimCommand(plan.S, 0));
    if (!readLine(device))
        return run;
    QByteArray packet;
    packet.reserve(qx::kPacketSize);
    const int total = plan.P + (plan.R > 0 ? 1 : 0);
    QElapsedTimer clock;
    clock.start();
    for (int n = 1; n <= total; ++n) {
        const int length = n <= plan.P ? qx::kPacketData : plan.R;
        qx::BuildPacket(packet, n, image, qint64(n - 1) * qx::kPacketData, length);
        device.write(packet);
        if (!readLine(device))
            return run;
    }
    run.seconds = clock.nsecsElapsed() / 1e9;
    run.packets = total;
    run.ok = true;
    return run;
}

Run plainTcp(const QByteArray &image, int width, int height)
{
    qx7emu::Emulator emu;
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), emu.listenTcp());
    if (!socket.waitForConnected(5000))
        return {};
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return plainExchanges(socket, image, width, height);
}

Run plainPty(const QByteArray &image, int width, int height, const QString &folder)
{
    qx7emu::Emulator emu;
    const QString device = emu.openPty(folder + QStringLiteral("/plain"));
    if (device.isEmpty())
        return {};
    QSerialPort port(device);
    if (!port.open(QIODevice::ReadWrite))
        return {};
    port.setBaudRate(115200);
    return plainExchanges(port, image, width, height);
}

void print(const char *name, const Run &run)
{
    std::printf("%s_ok=%d\n%s_packets=%d\n%s_seconds=%.3f\n%s_packets_per_s=%.0f\n", name, run.ok ? 1 : 0, name,
                run.packets, name, run.seconds, name, run.rate());
}

// The run whose time is the median of the successful ones (not ok when none was).
Run medianRun(QList<Run> runs)
{
    runs.removeIf([](const Run &r) { return !r.ok; });
    if (runs.isEmpty())
        return {};
    std::sort(runs.begin(), runs.end(), [](const Run &a, const Run &b) { return a.seconds < b.seconds; });
    return runs[runs.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int divisor = argc > 1 ? QByteArray(argv[1]).toInt() : 1;
    if (divisor < 1)
        divisor = 1;
    const int width = qx::EvenWidth(1920 / divisor);
    const int height = 1200 / divisor;
    std::printf("picture=%dx%d\n", width, height);

    // The two blocking sleeps of the upload and any message box are skipped.
    qx::seams().pauseLength = [](int) { return 0; };
    qx::seams().messageBox = [](const QString &text, const QString &title, bool) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
        return true;
    };
    QTemporaryDir folder;
    qx::seams().programFolder = folder.path();

    const QByteArray image = bankImage(width, height);

    QList<Run> appTcp, tcp, appPty, pty;
    QList<double> tcpRatios, ptyRatios;
    for (int round = 0; round < qxbench::kRounds; ++round) {
        {
            qx7emu::Emulator emu;
            appTcp << applicationUpload(emu, image, width, height, 0);
        }
        tcp << plainTcp(image, width, height);
        if (appTcp.last().ok && tcp.last().ok)
            tcpRatios << appTcp.last().seconds / tcp.last().seconds;
        {
            qx7emu::Emulator emu;
            appPty << (emu.openPty(folder.filePath(QStringLiteral("com1"))).isEmpty()
                           ? Run()
                           : applicationUpload(emu, image, width, height, 1));
        }
        pty << plainPty(image, width, height, folder.path());
        if (appPty.last().ok && pty.last().ok)
            ptyRatios << appPty.last().seconds / pty.last().seconds;
    }
    print("app_tcp", medianRun(appTcp));
    print("plain_tcp", medianRun(tcp));
    print("app_pty", medianRun(appPty));
    print("plain_pty", medianRun(pty));
    if (!ptyRatios.isEmpty())
        std::printf("upload_ratio_pty=%.2f\n", qxbench::median(ptyRatios));

    std::printf("peak_rss_mb=%.1f\n", qxbench::peakResidentMb());
    std::printf("upload_ratio_rounds=%s\n", qxbench::listed(tcpRatios).constData());
    const bool ok = tcpRatios.size() == qxbench::kRounds;
    std::printf("upload_ratio=%.2f\n", ok ? qxbench::median(tcpRatios) : 0.0);
    return ok ? 0 : 1;
}
