// The device link: cutting text into lines, waiting for replies, opening, the firmware check; over real sockets.

#include "app/outcomes.h"
#include "emulator.h"
#include "link/serialports.h"
#include "link/versioncheck.h"
#include "linkrig.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using namespace qx;
using namespace qxtest;

namespace {

// An emulator with the given options and the application's link to it over TCP.
struct Device {
    explicit Device(const qx7emu::Options &o = {}) : emu(o) { connected = rig.openTcp(emu.listenTcp()); }
    qx7emu::Emulator emu;
    LinkRig rig;
    bool connected = false;
};

// The application's link to a peer of the test's own that sends what it is given.
struct Peer {
    Peer()
    {
        connected = server.listen(QHostAddress::LocalHost) && rig.openTcp(server.serverPort()) &&
                    QTest::qWaitFor([this] { return server.hasPendingConnections(); }, 5000) &&
                    (socket = server.nextPendingConnection());
    }
    bool send(const QByteArray &bytes)
    {
        return socket->write(bytes) == bytes.size() && socket->waitForBytesWritten(5000);
    }
    QTcpServer server;
    LinkRig rig;
    QTcpSocket *socket = nullptr;
    bool connected = false;
};

} // namespace

class TestLink : public QObject {
    Q_OBJECT
private Q_SLOTS:

    void splitter_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines"); // "waiting", then the line left waiting (not taken) after a tick
        QTest::newRow("five line ends") << QByteArray("A\r\n\r\n\rB\r") << QStringList{"A", "B"};
        QTest::newRow("bar in device text") << QByteArray("~01@X|Y\r\n") << QStringList{"~01@X", "Y"};
        QTest::newRow("LF completes once CR comes") << QByteArray("A\nB\r") << QStringList{"A", "B"};
        QTest::newRow("NUL terminated command echo") << QByteArray("X\r\n\0Y\r", 6) << QStringList{"X", "Y"};
        QTest::newRow("a waiting line is not replaced") << QByteArray("A\rB\r") << QStringList{"waiting", "A"};
    }
    void splitter()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        const bool waiting = lines.value(0) == "waiting";
        Peer peer;
        QStringList got;
        connect(&peer.rig.ex, &CommandExchange::lineCut, this, [&] {
            if (!waiting)
                got << QString::fromLatin1(peer.rig.ex.takeRxLine());
        });
        QVERIFY(peer.connected && peer.send(bytes));
        if (waiting) {
            QTRY_VERIFY(!peer.rig.ex.rxLine().isEmpty());
            peer.rig.ex.ReceivePoll(); // a tick before the wait took "A"
            got = QStringList{"waiting", QString::fromLatin1(peer.rig.ex.rxLine())};
        }
        QTRY_COMPARE(got, lines);
    }

    // A wait takes the first line that starts with its prefix (case-sensitive; an empty one takes any line),
    // passing over up to 19 foreign lines, the reply of a command nobody waited for among them. Else it logs a
    // time-out: after the whole budget of 20 lines x 400 polls, each of at least 2 ms in the product (16 s),
    // counted rather than timed, with polls shortened here; after a stop, at once.
    void waitReply_data()
    {
        QTest::addColumn<QString>("device");    // "noise n": n foreign lines before each reply; "fragment": every
                                                // reply reaches the link in pieces; "silent"
        QTest::addColumn<QByteArray>("before"); // a command sent first, awaiting nothing; "stop": a stop request
        QTest::addColumn<QByteArray>("send");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("reply");
        const QByteArray none, ask = "# \r", version = "#VERSION?\r";
        const auto row = [](const char *name, const char *device, const QByteArray &before, const QByteArray &send,
                            const char *prefix, const char *reply) {
            QTest::newRow(name) << QString(device) << before << send << QString(prefix) << QString(reply);
        };
        row("19 foreign lines skipped", "noise 19", none, ask, "~01@ OK", "~01@ OK");
        row("20 foreign lines: missed", "noise 20", none, ask, "~01@ OK", "");
        row("an empty prefix takes any line", "fragment", none, version, "", "~01@VERSION 2.12.0005");
        row("a reply nobody waited for is foreign", "fragment", "#PRST-RCL 3\r\n", "#Y 1,300,0\r", "~01@Y 1,300,",
            "~01@Y 1,300,2,0");
        row("the prefix is case-sensitive", "fragment", none, ask, "~01@ ok", "");
        row("a stop ends the wait at once", "silent", "stop", ask, "~01@ OK", "");
        row("silent: the whole budget", "silent", none, version, "~01@VERSION ", "");
    }
    void waitReply()
    {
        QFETCH(QString, device);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, send);
        QFETCH(QString, prefix);
        QFETCH(QString, reply);
        qx7emu::Options o;
        o.noise = device.section(' ', 1).toInt();
        o.fragment = device == "fragment";
        o.silent = device == "silent";
        Device d(o);
        QVERIFY(d.connected);
        d.rig.log.setShowLog(true);
        QCOMPARE(d.rig.ex.pollMs(), 2);
        const bool budget = device == "silent" && before.isEmpty();
        if (budget)
            d.rig.ex.setPollMs(0);
        before == "stop" ? d.rig.ex.stop() : void(before.isEmpty() || d.rig.ex.SendCommand(before));
        QCOMPARE(d.rig.ask(send, prefix), reply);
        QVERIFY(before != "stop" || d.rig.ex.lastWaitPolls() <= 1); // a stop waits out no budget
        QCOMPARE(d.rig.log.lastReceived() == QLatin1String("TIMEOUT ERROR"), reply.isEmpty());
        QVERIFY(!budget || d.rig.ex.lastWaitPolls() == 20 * 400);
    }

    void bytesTheDeviceNeverTook()
    {
        Peer peer; // it never reads: the bytes only reach this side's system
        QVERIFY(peer.connected && peer.rig.link.write(QByteArray(1 << 20, 'x')));
        QVERIFY(!peer.rig.link.flush(200));
    }

    void openLink_data()
    {
        QTest::addColumn<int>("comPort"); // com3 leads to the emulator, com4 nowhere
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("text"); // of the box the window shows, titled "Communication failure"
        const QString choose =
            "\r\nChoose the serial port or TCP/IP under Communication settings on the Files and Setup "
            "page, then press Reconnect to QX-7.";
        // The entry's target follows the arrow.
        const QString comFail = QStringLiteral("Com port open failure\r\ncom%1 \u2192 %2") + choose;
        const int serial = int(LinkOpenResult::SerialFailed), tcp = int(LinkOpenResult::TcpFailed);
        QTest::newRow("serial through the com link") << 3 << "115200,o,8,1" << int(LinkOpenResult::Opened) << "";
        QTest::newRow("no such port") << 4 << "115200,n,8,1" << serial << comFail;
        QTest::newRow("tcp port not a number")
            << 0 << "127.0.0.1:abc" << tcp << "IP link failure - 127.0.0.1:abc" + choose;
    }
    void openLink()
    {
        QFETCH(int, comPort);
        QFETCH(QString, settings);
        QFETCH(int, result);
        QFETCH(QString, text);
        TempProgramFolder folder;
        ScriptedSeams seams;
        qx7emu::Emulator emu;
        QVERIFY(!emu.openPty(folder.file(QStringLiteral("com3"))).isEmpty());
        LinkRig rig;
        rig.state.settings.ComPort = comPort;
        rig.state.settings.ComPortSettings = comPort ? settings : QStringLiteral("115200,n,8,1");
        rig.state.settings.TcpSettings = settings;
        QCOMPARE(int(rig.ex.OpenLink()), result);
        QVERIFY(seams.boxes.isEmpty());
        QCOMPARE(ShowLinkOutcome(LinkOpenResult(result), rig.link.attempted(), rig.state.msg), text.isEmpty());
        if (comPort != 0 && !text.isEmpty())
            text = text.arg(comPort).arg(QFileInfo(folder.file(QString("com%1").arg(comPort))).symLinkTarget());
        if (text.isEmpty()) {
            rig.ex.startReceiveTimer();
            QCOMPARE(rig.ask("#Y 0,300,5,2\r", QStringLiteral("~01@Y 0,300,")), QStringLiteral("~01@Y 0,300,5,2"));
            QCOMPARE(emu.state().windows[2].input, 5);
        }
        QCOMPARE(seams.boxes, decltype(seams.boxes)(text.isEmpty() ? 0 : 1, {text, "Communication failure"}));
    }

    void serialPortList()
    {
        // Each port under its stable name, with the com1..com255 entries that lead to it, one a line for
        // --list-ports, names as the file system has them; adapters before the built-in ports, which say what
        // they are. The first adapters are listed although the stable names' folder and the one above it did
        // not exist when the watch began, and a stable name that appears later is taken.
        TempProgramFolder folder;
        ScriptedSeams seams;
        QTemporaryDir dev;
        const QString byId = dev.filePath("serial/by-id");
        qx::seams().serialByIdFolder = byId;
        SerialPortWatcher watcher;
        const auto plug = [&](const QString &node, const QString &name) {
            QFile(dev.filePath(node)).open(QIODevice::WriteOnly);
            return name.isEmpty() || QFile::link("../../" + node, byId + "/" + name);
        };
        QVERIFY(QDir().mkpath(byId) && plug("ttyUSB0", "usb-FTDI_FT232R_A1B2-if00-port0") && plug("ttyACM0", {}));
        seams.ports = {{dev.filePath("ttyS0"), {}, {}, {}},
                       {dev.filePath("ttyUSB0"), "FT232R\tUSB UART", "FTDI", "A1B2"},
                       {dev.filePath("ttyACM0"), {}, "Arduino", {}}};
        for (const char *entry : {"com5", "com12"})
            QVERIFY(QFile::remove(folder.file(entry)));
        for (const char *entry : {"com5", "com256", "com12\n"})
            QVERIFY(QFile::link(dev.filePath("ttyUSB0"), folder.file(entry)));
        QVERIFY(QFile::link(byId + "/usb-FTDI_FT232R_A1B2-if00-port0", folder.file("com12")));
        QTRY_COMPARE(SerialPortLines(watcher.ports()),
                     byId + "/usb-FTDI_FT232R_A1B2-if00-port0\t" + dev.filePath("ttyUSB0") +
                         "\tFT232R\\tUSB UART, FTDI, A1B2\tcom5,com12\n" + dev.filePath("ttyACM0") + "\t" +
                         dev.filePath("ttyACM0") + "\tArduino\t\n" + dev.filePath("ttyS0") + "\t" +
                         dev.filePath("ttyS0") + "\tbuilt-in serial port\t\n");
        QVERIFY(QFile::link("../../ttyACM0", byId + "/usb-Arduino-if00"));
        QTRY_COMPARE(watcher.ports().value(1).stableName, byId + "/usb-Arduino-if00");
    }

    void serialSettingsParsing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("parsed"); // baud, parity, data, stop; "" invalid
        const auto row = [](const char *name, const char *text, const char *parsed) {
            QTest::newRow(name) << QString(text) << QString(parsed);
        };
        row("upper case parity, 1.5 stop bits", "9600,E,7,1.5", "9600 2 7 3");
        row("mark", "2400,m,5,2", "2400 5 5 2");
        row("space", "19200,s,6,1", "19200 4 6 1");
        row("data bits 9", "9600,n,9,1", "");
        row("stop bits 3", "9600,n,8,3", "");
        row("baud not a number", "fast,n,8,1", "");
    }

    void serialSettingsParsing()
    {
        QFETCH(QString, text);
        const std::optional<SerialLineSettings> s = ParseSerialSettings(text);
        QTEST(s ? QStringLiteral("%1 %2 %3 %4")
                      .arg(s->baud)
                      .arg(int(s->parity))
                      .arg(int(s->dataBits))
                      .arg(int(s->stopBits))
                : QString(),
              "parsed");
    }

    void versionCheck_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<int>("verdict");
        QTest::newRow("2.12") << "2.12.0005" << false << int(VersionVerdict::Accepted);
        QTest::newRow("2.11 is old") << "2.11.7" << false << int(VersionVerdict::Old);
        QTest::newRow("10.11 is newer") << "10.11" << false << int(VersionVerdict::Accepted);
        QTest::newRow("3 without minor") << "3" << false << int(VersionVerdict::NoReply);
        QTest::newRow("no reply") << "2.12" << true << int(VersionVerdict::NoReply);
    }

    void versionCheck()
    {
        QFETCH(QString, version);
        QFETCH(bool, silent);
        QFETCH(int, verdict);
        qx7emu::Options o;
        o.version = version;
        o.silent = silent;
        Device d(o);
        QVERIFY(d.connected);
        ScriptedSeams seams;
        if (silent)
            d.rig.ex.setPollMs(0); // a silent device must not cost 16 s here
        QCOMPARE(int(CheckVersion(d.rig.ex)), verdict);
        QCOMPARE(d.rig.ex.stopRequested(), verdict != int(VersionVerdict::Accepted));
        QVERIFY(seams.boxes.isEmpty());
        QCOMPARE(d.emu.commands(), QStringList{QStringLiteral("#VERSION?")});
    }

    void unboundedTextIsDropped()
    {
        LinkRig rig;
        rig.log.setShowLog(true);
        rig.state.settings.ComPort = 0;
        const QByteArray junk(64 * 1024, 'x');
        for (int i = 0; i <= CommandExchange::kRxLimit / junk.size(); ++i) {
            rig.ex.feedTcp(junk);
            rig.ex.ReceivePoll();
        }
        QVERIFY(rig.ex.rxBufferSize() <= CommandExchange::kRxLimit);
        QVERIFY(rig.log.lastReceived().startsWith(QStringLiteral("RECEIVE OVERFLOW")));
        // A normal reply afterwards is cut as usual.
        rig.ex.feedTcp("~01@ OK\r\n");
        rig.ex.ReceivePoll();
        QCOMPARE(rig.ex.rxLine(), QByteArray("~01@ OK"));
    }

    void floodOfLines()
    {
        // A device that sends lines faster than they are taken (the first is never taken): the newest text is
        // kept, the log says how much went, and once the flood is over the device's reply is taken again.
        qx7emu::Options o;
        o.flood = true;
        Device d(o);
        QVERIFY(d.connected);
        LinkRig &rig = d.rig;
        rig.log.setShowLog(true);
        qint64 peak = 0, dropped = 0;
        connect(&rig.link, &DeviceLink::socketDataArrived, this,
                [&] { peak = qMax<qint64>(peak, rig.ex.rxBufferSize() + rig.ex.tcpPending().size()); });
        connect(&rig.log, &CommLog::receivedChanged, this, [&](const QString &text) {
            if (text.startsWith(QLatin1String("RECEIVE OVERFLOW")))
                dropped += text.section(QLatin1Char(' '), 2, 2).toLongLong();
        });
        rig.ex.SendCommand("# \r"); // its reply is cut out and left waiting; the flood follows
        const qint64 enough = 4 * CommandExchange::kRxLimit / 16; // lines of about 16 bytes
        QTRY_VERIFY_WITH_TIMEOUT(d.emu.floodLines() >= enough, 60000);
        d.emu.setOptions({});
        QTRY_VERIFY_WITH_TIMEOUT(!d.emu.flooding(), 5000);
        const QByteArray last = "~01@FLOOD " + QByteArray::number(d.emu.floodLines());
        QTRY_VERIFY_WITH_TIMEOUT(rig.ex.rxBuffer().endsWith(last + "\r\n") || rig.ex.rxBuffer().endsWith(last + '|') ||
                                     (rig.ex.rxBufferSize() == 0 && rig.ex.rxLine() == last),
                                 30000);
        QVERIFY2(peak <= CommandExchange::kRxLimit, qPrintable(QString::number(peak)));
        QVERIFY(dropped > 0);
        rig.ex.ClearReceive(); // as every device sequence begins
        QCOMPARE(rig.ask("# \r", QStringLiteral("~01@ OK")), QStringLiteral("~01@ OK"));
    }

    // The list of the diagnostic column is emptied when its 10,001st line comes, not trimmed from the top.
    void logListClearedAtItsLimit()
    {
        CommLog log;
        log.setShowLog(true);
        log.setFeedToList(true);
        for (int i = 1; i <= CommLog::kListLimit; ++i)
            log.LogLine(QString::number(i), CommLog::Sent);
        QCOMPARE(log.entries().size(), CommLog::kListLimit);
        log.LogLine("one too many", CommLog::Received);
        QVERIFY(log.entries().isEmpty());
        log.LogLine("next", CommLog::Received);
        QCOMPARE(log.entries(), QStringList{"next"});
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
