// The application as a whole process, as scripts and service managers start and end it: command-line requests,
// "/e", termination signals and the settings files that result. The program folder is a temporary copy.

#include "emulator.h"
#include "linkrig.h"
#include "state/forwarding.h"
#include "util/version.h"

#include <QImage>
#include <QLocalSocket>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#endif

using qxtest::ReadFile;

namespace {

// A copy of the program in a temporary program folder (its serial ports lead nowhere); with a port, its settings
// file points it at 127.0.0.1:port.
struct Installed {
    explicit Installed(quint16 port = 0, const QList<QByteArray> &more = {})
    {
        QFile::copy(QX_BIN_DIR "/qx-7alt", program); // executable as the original
        const QList<QByteArray> lines{";x", "Com Port=0", "x", "TCP Settings=127.0.0.1:" + QByteArray::number(port)};
        if (port != 0)
            qxtest::WriteFile(ini, (lines + more).join("\r\n") + "\r\n");
    }
    qxtest::TempProgramFolder dir;
    const QString program = dir.file("qx-7alt"), ini = dir.file("QX-7alt.ini");
};

#ifdef Q_OS_UNIX
void blockTerm()
{
    sigset_t t;
    sigemptyset(&t);
    sigaddset(&t, SIGTERM);
    sigprocmask(SIG_BLOCK, &t, nullptr);
}
#endif

} // namespace

class TestApp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        // "running": a first program holds com1 (a stale socket was in its way); "signal": it runs, and this start
        // is signalled before its request was taken; "no display": none for this start; "blocked": no private folder
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("out");  // the start of standard output
        QTest::addColumn<QByteArray>("sent"); // what reached the device
        const auto row = [](const char *name, const QStringList &args, const char *setting, int status,
                            const QByteArray &out, const QByteArray &sent = {}) {
            QTest::newRow(name) << args << QString(setting) << status << out << sent;
        };
        row("/c: and /e", {"/c:#PRST-RCL 5", "/e"}, "", 0, {}, "#prst-rcl 5\r");
        row("version", {"--version"}, "", 0, "QX-7alt " QX_VERSION_TEXT "\n");
        row("help", {"--help"}, "", 0, "Command line options for QX-7alt application:");
        row("unknown option", {"--frobnicate"}, "", 2, {});
        row("preset, exit", {"--preset", "16", "--exit"}, "", 0, {}, "#PRST-RCL 16\r\n");
        row("no display: --exit runs without a window", {"--preset", "2", "--exit"}, "no display", 0, {},
            "#PRST-RCL 2\r\n");
        row("no display: a window needed ends with 1", {"/c:#PRST-RCL 5"}, "no display", 1, {});
        row("clamped without a display: port 150 is com100", {"--preset", "3", "--exit"}, "port 150", 0, {},
            "#PRST-RCL 3\r\n");
        row("handed over: nothing, window to the front", {}, "running", 0, {});
        row("handed over: no display for the second start", {"--preset", "3", "--exit"}, "running, no display", 0, {},
            "#PRST-RCL 3\r\n");
#ifdef Q_OS_UNIX
        row("handed over without the runtime folder's variable", {"--preset", "4", "--exit"},
            "running, no runtime variable", 0, {}, "#PRST-RCL 4\r\n");
        row("another configuration runs by itself", {"--config", "other.ini", "--preset", "5", "--exit"},
            "running, other config", 0, {}, "#PRST-RCL 5\r\n");
        row("handed over: signalled before it was taken", {"--preset", "3", "--exit"}, "running, signal", 1, {});
        row("every private place taken: runs by itself", {"--preset", "3", "--exit"}, "blocked", 0, {},
            "#PRST-RCL 3\r\n");
        row("a panel out of reach: no second link", {"--preset", "3", "--exit"}, "running, blocked", 1, {});
#endif
    }
    // Each ends at once and saves nothing; what it asks for reaches the device, through the running program if
    // any (how each outcome is decided: tst_runner); a start that needs a window and has no display says so.
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, setting);
        QFETCH(int, status);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, sent);
        const bool running = setting.startsWith("running");
        qx7emu::Emulator emu, other; // a device to talk to, so no link message appears; another for other.ini
        Installed app(running || setting == "port 150" ? 0 : emu.listenTcp());
        QProcess first;
        QLocalSocket probe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment(), firstEnv = env;
        QTemporaryDir tmp, session; // "blocked": every name of the private folder taken by someone else
#ifdef Q_OS_UNIX
        for (int n = 0; n < qx::kRuntimeFolderNames && setting.endsWith("blocked"); ++n) {
            const QByteArray taken = QFile::encodeName(tmp.path()) + "/qx-7alt-" + QByteArray::number(::getuid()) +
                                     (n ? "-" + QByteArray::number(n) : "");
            ::mkdir(taken, 0777);
            ::chmod(taken, 0777);
        }
        ::chmod(QFile::encodeName(session.path()), 0700);
#endif
        if (setting.endsWith("blocked")) {
            env.insert("TMPDIR", tmp.path());
            env.insert("XDG_RUNTIME_DIR", "");
            firstEnv = env;
        }
        if (setting.endsWith("no runtime variable")) { // the panel's session folder, not told to the second start
            firstEnv.insert("XDG_RUNTIME_DIR", session.path());
            env.remove("XDG_RUNTIME_DIR");
        }
        if (setting == "port 150") {
            QVERIFY(qxtest::WriteFile(app.ini, ";x\r\nCom Port=150\r\n"));
            QVERIFY(!emu.openPty(app.dir.file("com100")).isEmpty());
        }
        if (setting.endsWith("other config"))
            QVERIFY(qxtest::WriteFile(app.dir.file("other.ini"), ";x\r\nCom Port=0\r\nx\r\nTCP Settings=127.0.0.1:" +
                                                                     QByteArray::number(other.listenTcp())));
        if (running) {
            QVERIFY(!emu.openPty(app.dir.file("com1")).isEmpty());
            const QString name = qx::InstanceName(app.dir.path());
            QVERIFY(setting.endsWith("variable") || QFile(name).open(QIODevice::WriteOnly)); // a stale socket
            first.setProcessEnvironment(firstEnv);
            first.start(app.program);
            const QString mark = app.dir.file("." + qx::InstanceEntry(app.dir.path()) + ".run");
            QTRY_VERIFY_WITH_TIMEOUT(setting.endsWith("blocked")
                                         ? QFile::exists(mark)
                                         : (probe.abort(), probe.connectToServer(qx::InstanceName(app.dir.path())),
                                            probe.waitForConnected(100)),
                                     15000);
            QByteArray said; // the panel out of reach is up once it has said why nobody can hand over
            QTRY_VERIFY_WITH_TIMEOUT(!setting.endsWith("blocked") ||
                                         (said += first.readAllStandardError()).contains("No private folder"),
                                     15000);
        }
        const QByteArray before = ReadFile(app.ini);
        QProcess p;
        if (setting.endsWith("no display")) {
            for (const char *v : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY"})
                env.remove(v);
            env.insert("DISPLAY", ":739"); // nothing there
        }
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(app.dir.path());
#ifdef Q_OS_UNIX
        if (setting.endsWith("signal")) // sent at once and held blocked until main takes it
            p.setChildProcessModifier(blockTerm);
#endif
        p.start(app.program, args);
#ifdef Q_OS_UNIX
        if (setting.endsWith("signal") && p.waitForStarted())
            ::kill(pid_t(p.processId()), SIGTERM);
#endif
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), status);
        QVERIFY(p.readAllStandardOutput().startsWith(out));
        QVERIFY(status == 0 || setting.endsWith("signal") || !p.readAllStandardError().isEmpty()); // said why
        if (setting.endsWith("signal") || setting.endsWith("blocked"))
            QTest::qWait(200);                                                     // nothing may arrive later either
        qx7emu::Emulator &device = setting.endsWith("other config") ? other : emu; // and nothing at the other
        QTRY_COMPARE_WITH_TIMEOUT(device.received().size(), int(!sent.isEmpty()), 10000);
        QCOMPARE(device.received().value(0).raw, sent);
        QVERIFY(emu.received().size() + other.received().size() == int(!sent.isEmpty()));
        QVERIFY(!QFile::exists(app.dir.file("startup.ini")) && ReadFile(app.ini) == before);
        first.terminate();
        QVERIFY(!running || first.waitForFinished(15000));
    }

#ifdef Q_OS_UNIX
    void terminationAtAnyMoment_data()
    {
        QTest::addColumn<QString>("moment");
        QTest::addColumn<QByteArray>("bankRecord"); // line 41 of the saved file; "": a run that ends by itself
        QTest::addColumn<int>("status");            // -1: not 0 (refused, or ended before the refusal)
        QTest::newRow("warning window open") << "warning" << QByteArray("Bank File Loaded1=old.bmp") << -1;
        QTest::newRow("version wait of a start-up load with /e") << "version" << QByteArray() << 1;
        QTest::newRow("upload") << "upload" << QByteArray("Bank File Loaded1=") << 1;
        QTest::newRow("upload of a run with --exit") << "exit" << QByteArray() << 1;
        QTest::newRow("at once, before the window exists") << "start" << QByteArray() << 1;
        QTest::newRow("at once, a command that did not leave") << "command" << QByteArray() << 1;
    }
    // SIGTERM while the start-up sequence waits or uploads, or with a modal window open: the process ends soon,
    // once, with 0 only when everything asked was done, saying why; both files saved in full, the bank whose
    // upload was cut short recorded as holding nothing known (the files' bytes are the settings tests' matter),
    // unless the run ends by itself ("/e", --exit): then both are left byte for byte.
    void terminationAtAnyMoment()
    {
        QFETCH(QString, moment);
        qx7emu::Options o;
        o.silent = moment == "version";
        o.replyDelayMs = moment == "upload" || moment == "exit" ? 20 : 0; // about two minutes of packets
        QTemporaryDir logDir;
        o.logFile = logDir.filePath("emulator.log");
        qx7emu::Emulator emu(o);
        Installed app(emu.listenTcp(), QList<QByteArray>(36) << "Bank File Loaded1=old.bmp");
        const QByteArray startupBefore = ReadFile(app.dir.file("startup.ini")), configBefore = ReadFile(app.ini);
        QImage picture(720, 576, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        QVERIFY(picture.save(app.dir.file("pic.bmp")));
        QProcess p;
        p.setWorkingDirectory(app.dir.path());
        // Sent at once and held blocked until main takes it, as in the first moments.
        if (moment == "start" || moment == "command")
            p.setChildProcessModifier(blockTerm);
        p.start(app.program, moment == "command"                     ? QStringList{"--command", "#Y 0,204,1", "--exit"}
                             : moment == "exit" || moment == "start" ? QStringList{"--file", "pic.bmp", "--exit"}
                             : moment == "version"
                                 ? QStringList{"/f:pic.bmp", "/e"}
                                 : QStringList{moment == "warning" ? "/f:missing.bmp" : "/f:pic.bmp"});
        QTRY_VERIFY_WITH_TIMEOUT(moment == "start" || moment == "command" ? p.waitForStarted()
                                 : moment == "warning" ? ReadFile(o.logFile).contains("tcp connection from")
                                 : moment == "version" ? emu.commands().contains("#VERSION?")
                                                       : emu.packetsReceived() >= 5,
                                 30000);
        ::kill(pid_t(p.processId()), SIGTERM);
        // A hang, or a 16 s wait and its message box, fails here.
        QVERIFY(p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit);
        QFETCH(int, status);
        QVERIFY(status < 0 ? p.exitCode() != 0 : p.exitCode() == status);
        const QByteArray told = p.readAllStandardError();
        QCOMPARE(told.contains("The program is ending"), p.exitCode() == 1);  // never silent
        QVERIFY2(!told.contains("No reply from the QX-7"), told.constData()); // cut short, nothing failed
        QFETCH(QByteArray, bankRecord);
        if (bankRecord.isEmpty()) {
            QVERIFY(ReadFile(app.dir.file("startup.ini")) == startupBefore && ReadFile(app.ini) == configBefore);
        } else {
            QVERIFY(ReadFile(app.dir.file("startup.ini")).contains("\r\nTongue=EN\r\nMainX="));
            QCOMPARE(ReadFile(app.ini).count("\r\n"), 50);
            QCOMPARE(ReadFile(app.ini).split('\n').value(40).trimmed(), bankRecord);
        }
        QVERIFY(emu.packetsReceived() < 5761); // the pauses on the wire: tst_upload
    }
#endif
};

QTEST_GUILESS_MAIN(TestApp)
#include "tst_app.moc"
