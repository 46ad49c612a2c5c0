// bench-exchange: the cost of one command exchange as the application makes it
// (SendCommand + WaitReply("") of a 150-byte packet answered by one line),
// against a plain blocking client doing the same exchange with the same kind
// of emulator, over loopback TCP and over a pseudo-terminal, in alternating
// rounds; the median of the rounds' ratios is printed.
//   bench-exchange [exchanges per run]

#include "emulator.h"
#include "link/commandexchange.h"
#include "link/commlog.h"
#include "link/devicelink.h"
#include "rounds.h"
#include "state/appstate.h"
#include "util/seams.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

constexpr qint64 kImageSize = 2LL * 1920 * 1200 + 8; // room for any number of packets we send

QByteArray packet(int n)
{
    QByteArray p(150, '\x55');
    p[0] = char(n >> 8);
    p[1] = char(n & 0xFF);
    p[2] = 0;
    p[3] = char(146);
    p[148] = 0;
    p[149] = 0;
    return p;
}

QByteArray ldim()
{
    return "#LDIM " + QByteArray::number(kImageSize) + ",0\r\n" + QByteArray(1, '\0');
}

// The application's exchange; returns microseconds per exchange.
double appExchange(qx::AppState &state, int count)
{
    qx::CommLog log;
    qx::DeviceLink link(state.settings);
    qx::CommandExchange ex(link, log);
    ex.OpenLink();
    ex.startReceiveTimer();
    if (state.settings.ComPort == 0) {
        link.tcpSocket().waitForConnected(5000);
    }
    ex.ClearReceive();
    ex.SendCommand(ldim());
    ex.WaitReply(QStringLiteral("~01@LDIM"));
    if (ex.replyText().isEmpty())
        std::fprintf(stderr, "no LDIM reply\n");
    int missed = 0;
    QElapsedTimer t;
    t.start();
    for (int n = 1; n <= count; ++n) {
        ex.SendCommand(packet(n));
        ex.WaitReply(QString());
        missed += ex.replyText().isEmpty();
    }
    const double us = double(t.nsecsElapsed()) / 1000.0 / count;
    if (missed)
        std::fprintf(stderr, "application: %d exchanges without a reply\n", missed);
    return us;
}

// A plain blocking socket client.
double plainTcp(quint16 port, int count)
{
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), port);
    s.waitForConnected(5000);
    s.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    auto readLine = [&] {
        while (!s.canReadLine())
            if (!s.waitForReadyRead(5000))
                return false;
        s.readLine();
        return true;
    };
    s.write(ldim());
    readLine();
    QElapsedTimer t;
    t.start();
    for (int n = 1; n <= count; ++n) {
        s.write(packet(n));
        s.waitForBytesWritten(5000);
        if (!readLine())
            std::fprintf(stderr, "plain: no reply to packet %d\n", n);
    }
    return double(t.nsecsElapsed()) / 1000.0 / count;
}

#ifdef Q_OS_UNIX
// A plain blocking client on the pseudo-terminal.
double plainPty(const QString &path, int count)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return 0;
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    QByteArray pending;
    auto readLine = [&] {
        for (;;) {
            const int eol = int(pending.indexOf('\n'));
            if (eol >= 0) {
                pending.remove(0, eol + 1);
                return true;
            }
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0)
                return false;
            char buf[512];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                return false;
            pending.append(buf, int(n));
        }
    };
    auto writeAll = [&](const QByteArray &b) { return ::write(fd, b.constData(), size_t(b.size())) == b.size(); };
    writeAll(ldim());
    readLine();
    QElapsedTimer t;
    t.start();
    for (int n = 1; n <= count; ++n) {
        writeAll(packet(n));
        if (!readLine())
            std::fprintf(stderr, "plain pty: no reply to packet %d\n", n);
    }
    const double us = double(t.nsecsElapsed()) / 1000.0 / count;
    ::close(fd);
    return us;
}
#endif

} // namespace

int main(int argc, char *argv[])
{
    using namespace qxbench;
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(10, atoi(argv[1])) : 3000;
    std::printf("exchanges per run: %d (150-byte packets, one reply line each), %d rounds\n", count, kQuickRounds);

#ifdef Q_OS_UNIX
    QTemporaryDir folder;
    qx::seams().programFolder = folder.path();
#endif
    QList<double> appTcp, plainTcpUs, tcpRatios, appPty, plainPtyUs, ptyRatios;
    for (int round = 0; round < kQuickRounds; ++round) {
        {
            qx7emu::Emulator emu;
            qx::AppState state;
            state.settings.ComPort = 0;
            state.settings.TcpSettings = QStringLiteral("127.0.0.1:%1").arg(emu.listenTcp());
            appTcp << appExchange(state, count);
        }
        {
            qx7emu::Emulator emu;
            plainTcpUs << plainTcp(emu.listenTcp(), count);
        }
        tcpRatios << appTcp.last() / plainTcpUs.last();
#ifdef Q_OS_UNIX
        {
            qx7emu::Emulator emu;
            emu.openPty(folder.filePath(QStringLiteral("com1")));
            qx::AppState state;
            state.settings.ComPort = 1;
            appPty << appExchange(state, count);
        }
        {
            qx7emu::Emulator emu;
            plainPtyUs << plainPty(emu.openPty(), count);
        }
        if (plainPtyUs.last() > 0)
            ptyRatios << appPty.last() / plainPtyUs.last();
#endif
    }
    std::printf("tcp: application %.1f us/exchange, plain blocking client %.1f us/exchange (medians); ratios %s\n",
                median(appTcp), median(plainTcpUs), listed(tcpRatios).constData());
#ifdef Q_OS_UNIX
    std::printf("pty: application %.1f us/exchange, plain blocking client %.1f us/exchange (medians); ratios %s\n",
                median(appPty), median(plainPtyUs), listed(ptyRatios).constData());
    std::printf("exchange_ratio_pty=%.2f\n", median(ptyRatios));
#endif
    std::printf("exchange_ratio=%.2f\n", median(tcpRatios));
    return 0;
}
