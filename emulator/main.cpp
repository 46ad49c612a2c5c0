// qx7-emulator: a stand-in QX-7 for testing and demonstrating the control
// panel without the device. Prints one line per transport ("tcp 127.0.0.1:PORT",
// "pty /dev/pts/N"), then serves until SIGTERM or SIGINT.

#include "emulator.h"
#include "util/version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto ignored = ::write(g_signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the event loop (through a pipe, the only safe way out
// of a signal handler), so that the emulator is torn down and its link removed.
void quitOnSignals(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] { app.quit(); });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}
#else
void quitOnSignals(QCoreApplication &)
{
}
#endif

bool readCount(const QCommandLineParser &parser, const QString &name, int &value)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    value = parser.value(name).toInt(&ok);
    if (!ok || value < 0) {
        std::fprintf(stderr, "qx7-emulator: --%s needs a whole number of 0 or more\n", qPrintable(name));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qx7-emulator"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QX_VERSION_TEXT));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Stand-in for the QX-7 video processor: answers its command set over TCP (127.0.0.1 only) "
                       "and/or a pseudo-terminal."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("tcp"), QStringLiteral("Listen on 127.0.0.1:PORT (0 picks a free port)."),
         QStringLiteral("PORT")},
        {QStringLiteral("pty"), QStringLiteral("Serve on a new pseudo-terminal.")},
        {QStringLiteral("link"),
         QStringLiteral("Also make PATH a symbolic link to the pseudo-terminal (implies --pty)."),
         QStringLiteral("PATH")},
        {QStringLiteral("firmware"), QStringLiteral("Firmware version to report (default 2.12.0005)."),
         QStringLiteral("V")},
        {QStringLiteral("silent"), QStringLiteral("Never answer anything.")},
        {QStringLiteral("reply-delay"), QStringLiteral("Send every reply MS milliseconds late."), QStringLiteral("MS")},
        {QStringLiteral("noise"), QStringLiteral("Send N unsolicited lines before every reply."), QStringLiteral("N")},
        {QStringLiteral("fragment"), QStringLiteral("Send replies in small pieces with short pauses.")},
        {QStringLiteral("drop-ack"), QStringLiteral("Never answer data packet number N."), QStringLiteral("N")},
        {QStringLiteral("disconnect-after-packets"),
         QStringLiteral("Close the connection (pseudo-terminal: stop answering) after N data packets."),
         QStringLiteral("N")},
        {QStringLiteral("drop-after-commands"),
         QStringLiteral("Close the connection (pseudo-terminal: stop answering) after N commands of it."),
         QStringLiteral("N")},
        {QStringLiteral("close-on-accept"), QStringLiteral("Close every TCP connection the moment it is accepted.")},
        {QStringLiteral("black-hole"),
         QStringLiteral("For S seconds (0: for ever) answer no TCP connection request at all, not even with a "
                        "refusal, as a device behind a switch that is off (the listener's queue is kept full; "
                        "Linux); then accept as usual."),
         QStringLiteral("S")},
        {QStringLiteral("no-ldim-reply"), QStringLiteral("Accept \"#LDIM\" without answering it.")},
        {QStringLiteral("garbage"),
         QStringLiteral("Send N bytes of binary junk (NUL, FF, LF, CR among them; CR last) before every reply."),
         QStringLiteral("N")},
        {QStringLiteral("stream-no-eol"),
         QStringLiteral("After the first command, send text without any line end until the connection closes.")},
        {QStringLiteral("flood"),
         QStringLiteral("After the first command, send complete lines (\"~01@FLOOD n\", CR LF) as fast as the link "
                        "takes them, still answering every command between them.")},
        {QStringLiteral("flood-seconds"), QStringLiteral("End the flood after S seconds (default: never)."),
         QStringLiteral("S")},
        {QStringLiteral("flood-rate"),
         QStringLiteral("Send at most N flood lines per second (default: as fast as the link takes them)."),
         QStringLiteral("N")},
        {QStringLiteral("deaf-after-packets"),
         QStringLiteral("After data packet N, read nothing more from the link, but send \"~01@ OK\" (CR LF) about "
                        "every millisecond: a device that answers every line but never reads."),
         QStringLiteral("N")},
        {QStringLiteral("log"), QStringLiteral("Write every command, packet header and reply to FILE."),
         QStringLiteral("FILE")},
        {QStringLiteral("dump-banks"), QStringLiteral("Write each completed bank to DIR as bankN.bin and bankN.png."),
         QStringLiteral("DIR")},
    });
    parser.process(app);

    qx7emu::Options options;
    int blackHoleSeconds = 0;
    if (parser.isSet(QStringLiteral("firmware")))
        options.version = parser.value(QStringLiteral("firmware"));
    options.silent = parser.isSet(QStringLiteral("silent"));
    options.fragment = parser.isSet(QStringLiteral("fragment"));
    options.noLdimReply = parser.isSet(QStringLiteral("no-ldim-reply"));
    options.closeOnAccept = parser.isSet(QStringLiteral("close-on-accept"));
    options.streamNoEol = parser.isSet(QStringLiteral("stream-no-eol"));
    options.flood = parser.isSet(QStringLiteral("flood"));
    options.logFile = parser.value(QStringLiteral("log"));
    options.dumpBanksDir = parser.value(QStringLiteral("dump-banks"));
    if (!readCount(parser, QStringLiteral("reply-delay"), options.replyDelayMs) ||
        !readCount(parser, QStringLiteral("noise"), options.noise) ||
        !readCount(parser, QStringLiteral("drop-ack"), options.dropAck) ||
        !readCount(parser, QStringLiteral("garbage"), options.garbage) ||
        !readCount(parser, QStringLiteral("disconnect-after-packets"), options.disconnectAfterPackets) ||
        !readCount(parser, QStringLiteral("drop-after-commands"), options.dropAfterCommands) ||
        !readCount(parser, QStringLiteral("flood-seconds"), options.floodSeconds) ||
        !readCount(parser, QStringLiteral("flood-rate"), options.floodRate) ||
        !readCount(parser, QStringLiteral("deaf-after-packets"), options.deafAfterPackets) ||
        !readCount(parser, QStringLiteral("black-hole"), blackHoleSeconds))
        return 2;
    options.blackHole = parser.isSet(QStringLiteral("black-hole"));

    const bool tcp = parser.isSet(QStringLiteral("tcp"));
    const QString link = parser.value(QStringLiteral("link"));
    const bool pty = parser.isSet(QStringLiteral("pty")) || !link.isEmpty();
    int port = 0;
    if (tcp && !readCount(parser, QStringLiteral("tcp"), port))
        return 2;
    if (port > 65535) {
        std::fprintf(stderr, "qx7-emulator: no such port %d\n", port);
        return 2;
    }
    if (!tcp && !pty) {
        std::fprintf(stderr, "qx7-emulator: give --tcp PORT and/or --pty (see --help)\n");
        return 2;
    }

    qx7emu::Emulator emulator(options);
    if (tcp) {
        const quint16 bound = emulator.listenTcp(quint16(port));
        if (bound == 0)
            return 1;
        std::printf("tcp 127.0.0.1:%u\n", unsigned(bound));
    }
    if (pty) {
        const QString path = emulator.openPty(link);
        if (path.isEmpty())
            return 1;
        std::printf("pty %s\n", qPrintable(path));
    }
    std::fflush(stdout);
    if (options.blackHole && blackHoleSeconds > 0)
        QTimer::singleShot(blackHoleSeconds * 1000, &app, [&emulator] { emulator.endBlackHole(); });

    quitOnSignals(app);
    return app.exec();
}
