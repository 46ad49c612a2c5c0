// OSC through its real socket against the emulator (its messages, refusals and feedback, what it never
// answers and where it never sends, two panels feeding each other), the access rule of every listener, and
// remote.ini as a start finds it. Everything talks to 127.0.0.1 only.

#include "corerig.h"
#include "remote/access.h"
#include "remote/oscremote.h"
#include "remote/remotesettings.h"
#include "remote/runnergateway.h"

#include <QTest>
#include <QUdpSocket>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace qx;
using namespace qxtest;

namespace {
const QHostAddress kHere(QHostAddress::LocalHost);
OscArgument i(int n)
{
    return {'i', n};
}

// The panel's OSC listener on `port`, its link up to an emulator over TCP.
struct OscRig {
    explicit OscRig(const QList<OscRemote::Target> &feedback = {}, quint16 port = 0) : targets(feedback)
    {
        osc.start(kHere, port, nullptr);
    }
    void send(QUdpSocket &from, const QString &address, const QList<OscArgument> &arguments)
    {
        from.writeDatagram(OscRemote::encode({address, arguments}), kHere, osc.boundPort());
    }
    CoreRig core;
    qx7emu::Emulator &emu = core.emu;
    RunnerGateway gateway{core.core};
    QList<OscRemote::Target> targets;
    OscRemote osc{gateway, false, {}, targets};
};

// A free port, for a listener that must be known before it starts.
quint16 freePort()
{
    QUdpSocket probe;
    probe.bind(kHere, 0);
    return probe.localPort();
}

// What a socket got by now, each message as "address first-argument".
QStringList heard(QUdpSocket &s)
{
    QStringList got;
    while (s.hasPendingDatagrams()) {
        QByteArray d(qsizetype(s.pendingDatagramSize()), '\0');
        s.readDatagram(d.data(), d.size());
        OscMessage m;
        got << (OscRemote::decode(d, m) ? m.address + ' ' + m.arguments.value(0).value.toString() : "?");
    }
    return got;
}
} // namespace

class TestOscRemote : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void osc_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QList<OscArgument>>("arguments");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QString>("reply"); // the start of a message back (what changed); "" none
        QTest::addColumn<bool>("stranger"); // sent by another user of this computer (else as the tables say)
        const auto row = [](const char *name, const char *address, const QList<OscArgument> &arguments,
                            const QStringList &sent, const char *reply, bool stranger = false) {
            QTest::newRow(name) << QString(address) << arguments << sent << QString(reply) << stranger;
        };
        const QStringList none;
        row("preset 4 as a whole float", "/qx7/preset", {{'f', 4.0}}, {"#PRST-RCL 4"}, "/qx7/preset/last 4");
        row("window 2 input 16", "/qx7/window/2/input", {i(16)}, {"#Y 0,300,15,1", "#Y 0,337,0,1", "# "},
            "/qx7/window/2/source input 16");
        row("window 1 bank 2", "/qx7/window/1/bank", {i(2)}, {"#Y 0,337,2,0", "# "}, "/qx7/window/1/source bank 2");
        row("background bank 4", "/qx7/background/bank", {i(4)}, {"#Y 0,337,4,4", "#Y 0,204,1", "# "},
            "/qx7/background/source bank 4");
        row("full screen as T", "/qx7/window/1/fullscreen", {{'T', {}}}, {"#Y 0,302,1,0", "#Y 0,201,1", "# "},
            "/qx7/fullscreen 1");
        row("the whole state", "/qx7/state", {}, none, "/qx7/background/source input 1");
        row("another user's preset", "/qx7/preset", {i(9)}, none, "/qx7/error only the operator's", true);
        row("read back", "/qx7/readback", {}, {"# ", "#Y 1,302,0"}, "/qx7/link");
        row("preset 2.5", "/qx7/preset", {{'f', 2.5}}, none, "/qx7/error preset must be");
        row("window 9", "/qx7/window/9/input", {i(1)}, none, "/qx7/error window must be");
        row("two arguments", "/qx7/preset", {i(1), i(2)}, none, "/qx7/error /qx7/preset takes one argument");
        row("unknown, no argument", "/qx7/bogus", {}, none, "/qx7/error unknown address");
        // What the program sends itself is never answered: two panels naming each other stay quiet.
        row("an error", "/qx7/error", {{'s', "x"}}, none, "");
        row("full screen, as the feedback tells it", "/qx7/fullscreen", {i(1)}, none, "");
        row("busy, as the feedback tells it", "/qx7/busy", {i(1)}, none, "");
        // The built-in bound: a datagram of 4 KiB is read, one of 4 KiB and 4 bytes is not.
        row("4 KiB", "/qx7/preset", {{'s', QString(4076, 'x')}}, none, "/qx7/error preset must be");
        row("over 4 KiB", "/qx7/preset", {{'s', QString(4080, 'x')}}, none, "");
    }
    void osc()
    {
        QFETCH(QString, address);
        QFETCH(QList<OscArgument>, arguments);
        QFETCH(QStringList, sent);
        QFETCH(QString, reply);
        QFETCH(bool, stranger);
        OscRig rig;
        if (stranger)
            seams().peerUser = [](quint16, quint16) { return OwnUser() + 1; };
        // Known first, so the sender arriving as a watcher asks for no read-back of its own.
        QVERIFY(rig.core.runner.execute(Request::readBack(RequestOrigin::Operator)).done());
        QCoreApplication::processEvents(); // the listener takes that change before the sender comes
        rig.emu.clearReceived();
        QUdpSocket tool;
        QVERIFY(tool.bind(kHere, 0));
        rig.send(tool, address, arguments);
        QStringList back;
        const QRegularExpression expected('^' + QRegularExpression::escape(reply));
        const auto answered = [&] { return !(back += heard(tool)).filter(expected).isEmpty(); };
        QVERIFY2(QTest::qWaitFor(answered, reply.isEmpty() ? 500 : 10000) != reply.isEmpty(),
                 qPrintable(back.join('|')));
        QTRY_COMPARE(rig.emu.commands().mid(0, sent.size()), sent);
        QVERIFY(sent.isEmpty() == rig.emu.commands().isEmpty());
    }

    // A feedback target that is the listener's own port gets nothing (else the enables it hears would be
    // requests again); another hears the whole state once, then each change's values once; a refused sender
    // is told once a second; the 16 latest senders hear the changes, an older one does not.
    void feedback()
    {
        QUdpSocket tool;
        QVERIFY(tool.bind(kHere, 0));
        const quint16 own = freePort();
        OscRig rig({{kHere, own}, {kHere, tool.localPort()}}, own);
        QTRY_VERIFY(tool.hasPendingDatagrams());
        QTest::qWait(200);
        QVERIFY(heard(tool).contains("/qx7/busy 0"));
        std::vector<std::unique_ptr<QUdpSocket>> senders(17);
        for (auto &s : senders) {
            s = std::make_unique<QUdpSocket>();
            s->bind(kHere, 0);
            rig.send(*s, "/qx7/state", {});
            QTRY_VERIFY(s->hasPendingDatagrams());
            heard(*s);
        }
        for (int n = 0; n < 5; ++n)
            rig.send(tool, "/qx7/bogus", {});
        rig.send(tool, "/qx7/window/4/input", {i(2)});
        QTRY_VERIFY(rig.emu.commands().size() > 15 && !rig.core.runner.busy());
        QTest::qWait(300);
        QStringList got = heard(tool);
        QCOMPARE(got.filter("/qx7/error").size(), 1);
        QVERIFY2(got.contains("/qx7/window/4/source input 2") && got.filter("/qx7/link").isEmpty() &&
                     got.removeDuplicates() == 0,
                 qPrintable(got.join('|')));
        QCOMPARE(rig.emu.commands().filter("#Y 0,30").size(), 1);
        QVERIFY(heard(*senders[1]).isEmpty() && !heard(*senders[2]).isEmpty());
        // Told again once the second is over, not before.
        for (const int ms : {1000, 500, 600}) {
            QTest::qWait(ms);
            rig.send(tool, "/qx7/bogus", {});
            QVERIFY(QTest::qWaitFor([&] { return !(got = heard(tool)).isEmpty(); }, ms == 500 ? 500 : 5000) ==
                    (ms != 500));
        }
        rig.send(tool, "/qx7/window/4/input", {i(3)}); // a value told before, changed
        QTRY_VERIFY((got += heard(tool)).contains("/qx7/window/4/source input 3"));
        // An enable a target asked for is never told back to it, however its sequence and read-back go: not even
        // while it waits behind the operator's question, the device's enable still known as before, and another
        // change is told.
        std::optional<DialogOpen> question(std::in_place);
        rig.send(tool, "/qx7/window/2/enabled", {i(1)});
        QTRY_COMPARE(rig.core.runner.queued(), 1);
        Q_EMIT rig.gateway.changed();
        QTest::qWait(100);
        question.reset();
        const auto after = [&] { return rig.emu.commands().mid(rig.emu.commands().indexOf("#Y 0,302,1,1") + 1); };
        QTRY_VERIFY(after().size() < rig.emu.commands().size() && after().endsWith("#Y 1,338,4")); // read back
        QTest::qWait(300);
        QVERIFY2(heard(tool).filter("/qx7/window/2/enabled").isEmpty(), qPrintable(got.join('|')));
    }

    // Two panels that name each other as feedback targets mirror each other's enables and go quiet, however
    // the requests come: the devices get at most one request's commands on each side for each request sent.
    void panelsFeedingEachOther()
    {
        const quint16 portA = freePort();
        const quint16 portB = freePort();
        OscRig a({{kHere, portB}}, portA);
        OscRig b({{kHere, portA}}, portB);
        a.emu.setState(qx7emu::presetLayout(16)); // every window on
        b.emu.setState(qx7emu::presetLayout(16));
        const auto commands = [&] { return a.emu.commands().size() + b.emu.commands().size(); };
        const auto quiet = [&] { // no command for a second, within 20 s
            for (int n = 0; n < 20; ++n) {
                const qsizetype before = commands();
                QTest::qWait(1000);
                if (commands() == before)
                    return true;
            }
            return false;
        };
        QVERIFY(quiet());
        QUdpSocket tool;
        QVERIFY(tool.bind(kHere, 0));
        // Each request: the panel and window, what, the value.
        const QStringList bursts[] = {
            {"a1 enabled 0", "a2 enabled 0", "a3 enabled 0", "a4 enabled 0", "a3 fullscreen 1"},
            {"a1 enabled 0", "b1 enabled 1", "a2 fullscreen 1"}};
        for (const QStringList &burst : bursts) {
            a.emu.clearReceived();
            b.emu.clearReceived();
            for (const QString &request : burst) {
                const QStringList r = request.split(' ');
                (r[0][0] == 'a' ? a : b).send(tool, "/qx7/window/" + r[0].mid(1) + '/' + r[1], {i(r[2].toInt())});
            }
            QVERIFY(quiet());
            QVERIFY2(commands() <= burst.size() * 2 * 20, qPrintable(QString::number(commands())));
            const qx7emu::DeviceState mirror = b.emu.state();
            for (int w = 0; w < 4 && burst.size() == 5; ++w) // b does what a did (full screen is no request)
                QCOMPARE(mirror.windows[w].enabled, w == 2);
        }
    }

    void settingsFile_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // "fifo": a FIFO with a writer that would feed a blocked open
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("token");    // "" made at the start
        QTest::addColumn<QString>("findings"); // what the operator is told
        const QByteArray token = "Token=stage.left.token.2024\r\n";
        const auto row = [](const char *name, const QByteArray &bytes, int mode, const char *kept,
                            const char *findings) {
            QTest::newRow(name) << bytes << mode << QString(kept) << QString(findings);
        };
        row("notes kept, token made", "; my notes\r\nPort=6000\r\nColour=blue\r\n", 0600, "", "");
        row("100 KB by hand",
            "Enabled=1\r\nReadBackSeconds=2\r\nQuestionWaitSeconds=9\r\n" + token + QByteArray(100000, ';'), 0600,
            "stage.left.token.2024", "");
        row("NUL byte, a wait over a minute", QByteArray("QuestionWaitSeconds=61\r\n; a\0b\r\n", 30) + token, 0600,
            "stage.left.token.2024", "nul");
        row("UTF-16, readable by others", QByteArray("\xFF\xFET\0o\0k\0e\0n\0=\0a\0b\0c\0\r\0\n\0", 22), 0644, "abc",
            "others short");
        row("binary", QByteArray("Enabled=1\r\n\0\x01\x02", 14), 0600, "", "unreadable");
        row("FIFO", "fifo", 0600, "", "unreadable");
    }
    // Read as the other settings files are, never replaced: a file is written at the start only when a token
    // had to be made, and kept byte for byte otherwise; what cannot be read is never written; a save is 0600.
    void settingsFile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, mode);
        QFETCH(QString, token);
        TempProgramFolder folder;
        const QString path = RemoteSettingsPath(folder.path());
        const QByteArray name = QFile::encodeName(path);
        std::thread writer;
        if (bytes == "fifo") {
            QVERIFY(::mkfifo(name, 0600) == 0);
            writer = std::thread([name] {
                const int fd = ::open(name, O_RDWR);
                ::usleep(200000);
                ::write(fd, "Enabled=1\n", 10);
                ::close(fd);
            });
        } else {
            QVERIFY(WriteFile(path, bytes));
            ::chmod(name, mode_t(mode));
        }
        RemoteSettings s = StartRemoteSettings(path);
        if (writer.joinable())
            writer.join();
        QStringList findings;
        findings << (s.nulsLeftOut ? "nul" : "") << (s.openToOthers ? "others" : "") << (s.tokenShort() ? "short" : "")
                 << (s.unreadable.isEmpty() ? "" : "unreadable");
        QTEST(findings.join(' ').simplified(), "findings");
        QCOMPARE(s.token, token.isEmpty() ? s.token : token);
        const bool timed = bytes.contains("Seconds=9");
        QCOMPARE(QList<int>({s.readBackSeconds, s.questionWaitSeconds}), QList<int>({timed ? 2 : 0, timed ? 9 : 5}));
        // A FIFO is looked at, never opened.
        const auto now = [&path] { return QFileInfo(path).isFile() ? ReadFile(path) : QByteArray("fifo"); };
        const QByteArray atStart = now();
        if (!token.isEmpty() || !s.unreadable.isEmpty())
            QCOMPARE(atStart, bytes);
        else
            QVERIFY(atStart.startsWith(bytes + "Enabled=0\r\nAllowOtherComputers=0\r\nToken=" + s.token.toLatin1()));
        s.enabled = !s.enabled;
        QCOMPARE(SaveRemoteSettings(path, s), s.unreadable.isEmpty());
        QCOMPARE(now() == atStart, !s.unreadable.isEmpty());
        if (s.unreadable.isEmpty()) {
            QCOMPARE(QFileInfo(path).permissions() & 0x0077, QFileDevice::Permissions());
            const RemoteSettings again = LoadRemoteSettings(path);
            QVERIFY(again.token == s.token && again.enabled == s.enabled && again.encoding == s.encoding);
        }
    }

    void accessRule_data()
    {
        QTest::addColumn<QString>("peer");
        QTest::addColumn<int>("user"); // 0 the operator's, 1 another's, -1 not found
        QTest::addColumn<bool>("allowOthers");
        QTest::addColumn<QString>("oscAllowed");
        QTest::addColumn<int>("http"); // Entry: 0 open, 1 with the token, 2 closed
        QTest::addColumn<int>("osc");
        // Addresses as values only: the rule is decided on them, nothing is sent there.
        const auto row = [](const char *name, const char *peer, int user, bool others, const char *listed, int http,
                            int osc) { QTest::newRow(name) << peer << user << others << listed << http << osc; };
        row("the operator's program", "127.0.0.1", 0, false, "", 0, 0);
        row("the operator's, IPv4 in IPv6, others allowed", "::ffff:127.0.0.1", 0, true, "", 1, 0);
        row("another user", "::1", 1, false, "", 1, 2);
        row("a user not found", "127.0.0.1", -1, true, "", 1, 2);
        row("another user, this computer listed", "127.0.0.1", 1, false, "::1", 1, 0);
        row("listed, others not allowed", "192.0.2.7", -1, false, "192.0.2.7", 2, 2);
        row("listed, others allowed", "::ffff:192.0.2.7", -1, true, "192.0.2.7", 1, 0);
        row("not listed", "192.0.2.8", -1, true, "192.0.2.7", 1, 2);
    }
    void accessRule()
    {
        QFETCH(QString, peer);
        QFETCH(int, user);
        QFETCH(bool, allowOthers);
        QFETCH(QString, oscAllowed);
        const AccessRule rule{allowOthers, {QHostAddress(oscAllowed)}};
        const auto found = user < 0 ? std::nullopt : std::optional<uint>(1000 + user);
        QTEST(int(AccessOf(rule, QHostAddress(peer), found, 1000, true)), "http");
        QTEST(int(AccessOf(rule, QHostAddress(peer), found, 1000, false)), "osc");
    }

    void socketTables_data()
    {
        QTest::addColumn<bool>("udp");
        QTest::addColumn<QByteArray>("peer"); // its sockets' lines: uid and remote port, beside another user's
        QTest::addColumn<int>("user");        // -1 none
        QTest::newRow("the same user") << false << QByteArray("1001:1F4F") << 1001;
        QTest::newRow("two users on those ports") << false << QByteArray("1000:1F4F 1001:1F4F") << -1;
        QTest::newRow("TCP listening, not connected") << false << QByteArray("1001:0000") << -1;
        QTest::newRow("UDP sending unconnected") << true << QByteArray("1001:0000") << 1001;
    }
    void socketTables()
    {
        QFETCH(bool, udp);
        QFETCH(QByteArray, peer);
        QByteArray table = "sl local_address rem_address st tx:rx tr:when retrnsmt uid\n"
                           "0: 0100007F:1F4F 0100007F:9C40 01 00000000:00000000 00:00000000 00000000 1000\n";
        for (const QByteArray &socket : peer.split(' '))
            table += "1: 0100007F:9C40 0100007F:" + socket.split(':').at(1) + " 01 0:0 0:0 0 " +
                     socket.split(':').at(0) + "\n";
        const auto uid = SocketTableUid(table, udp ? SocketKind::Udp : SocketKind::Tcp, 40000, 8015);
        QTEST(uid ? int(*uid) : -1, "user");
    }
};

QTEST_GUILESS_MAIN(TestOscRemote)
#include "tst_oscremote.moc"
