// The application as a whole process, as scripts and service managers start
// and end it: command-line requests, "/e", termination signals and the
// settings files that result. The program folder is a temporary copy.

#include "emulator.h"
#include "linkrig.h"
#include "util/version.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

class TestApp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void commandAndExitOverTcp();
    void terminationSavesDefaults();
    void handMadeFileComesBack();
    void terminationAtAnyMoment_data();
    void terminationAtAnyMoment();
    void longOptions_data();
    void longOptions();

private:
    QString installCopy(const QTemporaryDir &dir);
    QByteArray read(const QString &path);
};

namespace {
const QString kBinary = QStringLiteral(QX_BIN_DIR "/qx-7alt");

QByteArray configBytes(const QList<QByteArray> &lines)
{
    QByteArray out;
    for (const QByteArray &l : lines)
        out += l + "\r\n";
    return out;
}
} // namespace

void TestApp::initTestCase()
{
    QVERIFY(QFile::exists(kBinary));
}

QString TestApp::installCopy(const QTemporaryDir &dir)
{
    const QString target = dir.filePath(QStringLiteral("qx-7alt"));
    QFile::copy(kBinary, target);
    QFile::setPermissions(target, QFile::permissions(kBinary));
    // No serial port number leads to a real device from this folder.
    for (int n = 1; n <= 255; ++n)
        QFile::link(dir.filePath(QStringLiteral("no-device")), dir.filePath(QStringLiteral("com%1").arg(n)));
    return target;
}

QByteArray TestApp::read(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void TestApp::commandAndExitOverTcp()
{
    QTemporaryDir dir;
    const QString app = installCopy(dir);
    qx7emu::Emulator emu;
    const quint16 port = emu.listenTcp();
    QFile ini(dir.filePath(QStringLiteral("QX-7alt.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(configBytes({";x", "Com Port=0", "Com Port Settings=115200,n,8,1",
                           "TCP Settings=127.0.0.1:" + QByteArray::number(port)}));
    ini.close();
    const QByteArray before = read(ini.fileName());

    QProcess p;
    p.start(app, {QStringLiteral("/c:#PRST-RCL 5"), QStringLiteral("/e")});
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(emu.commands(), QStringList{QStringLiteral("#prst-rcl 5")});
    QCOMPARE(emu.received().value(0).raw, QByteArray("#prst-rcl 5\r"));
    // "/e" ends at once: nothing is saved.
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("startup.ini"))));
    QCOMPARE(read(ini.fileName()), before);
}

void TestApp::terminationSavesDefaults()
{
#ifdef Q_OS_UNIX
    QTemporaryDir dir;
    const QString app = installCopy(dir);
    qx7emu::Emulator emu;
    QVERIFY(!emu.openPty(dir.filePath(QStringLiteral("com1"))).isEmpty());
    QProcess p;
    p.start(app, {QStringLiteral("/c:#VERSION?")});
    QVERIFY(p.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(emu.commands().size(), 1, 15000); // the start-up has run
    ::kill(pid_t(p.processId()), SIGTERM);
    QVERIFY(p.waitForFinished(15000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);

    const QByteArray startup = read(dir.filePath(QStringLiteral("startup.ini")));
    QCOMPARE(startup.count("\r\n"), 4);
    QVERIFY(startup.startsWith(";QX-7alt v" QX_VERSION_TEXT " startup configuration file\r\nTongue=EN\r\nMainX="));
    const QList<QByteArray> lines = read(dir.filePath(QStringLiteral("QX-7alt.ini"))).split('\n');
    QCOMPARE(lines.size(), 51); // 50 lines, each ended by CR LF
    QCOMPARE(lines[0], QByteArray(";QX-7alt v" QX_VERSION_TEXT " main configuration file\r"));
    QCOMPARE(lines[1], QByteArray("Com Port= 1 \r"));
    QCOMPARE(lines[2], QByteArray("Com Port Settings=115200,n,8,1\r"));
    QVERIFY(lines[3].startsWith("TCP Settings=") && lines[3].endsWith(":5000\r"));
    QCOMPARE(lines[4], QByteArray("Label In1=Input 1\r"));
    QCOMPARE(lines[20], QByteArray("Label Win1=Window 1\r"));
    QCOMPARE(lines[39], QByteArray("Preset16=preset_16\r"));
    QCOMPARE(lines[40], QByteArray("Bank File Loaded1=\r"));
    QCOMPARE(lines[47], QByteArray("Bank Name4=Bank 4\r"));
    QCOMPARE(lines[48], "FolderSelected=" + QDir(dir.path()).absolutePath().toUtf8() + "\r");
    QCOMPARE(lines[49], QByteArray("\r"));
#else
    QSKIP("termination signals are a Unix matter");
#endif
}

void TestApp::handMadeFileComesBack()
{
#ifdef Q_OS_UNIX
    QTemporaryDir dir;
    const QString app = installCopy(dir);
    qx7emu::Emulator emu;
    const quint16 port = emu.listenTcp();
    QList<QByteArray> lines{";hand made", "Com Port=-3", "Com Port Settings=115200,n,8,1",
                            "TCP Settings=127.0.0.1:" + QByteArray::number(port), "Label In1=Camera = left",
                            "Label In2=   Stage   "};
    QFile ini(dir.filePath(QStringLiteral("QX-7alt.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(configBytes(lines));
    ini.close();
    QProcess p;
    p.start(app, {QStringLiteral("/c:# ")});
    QTRY_COMPARE_WITH_TIMEOUT(emu.commands().size(), 1, 15000);
    ::kill(pid_t(p.processId()), SIGTERM);
    QVERIFY(p.waitForFinished(15000));
    const QList<QByteArray> saved = read(ini.fileName()).split('\n');
    QCOMPARE(saved.value(1), QByteArray("Com Port= 0 \r"));
    QCOMPARE(saved.value(4), QByteArray("Label In1=Camera = left\r"));
    QCOMPARE(saved.value(5), QByteArray("Label In2=Stage\r"));
#else
    QSKIP("termination signals are a Unix matter");
#endif
}

void TestApp::terminationAtAnyMoment_data()
{
    QTest::addColumn<QString>("moment");
    QTest::addColumn<QByteArray>("bankRecord"); // line 41 of the saved file
    QTest::newRow("warning window open") << "warning" << QByteArray("Bank File Loaded1=old.bmp");
    QTest::newRow("version wait of a start-up load") << "version" << QByteArray("Bank File Loaded1=");
    QTest::newRow("upload") << "upload" << QByteArray("Bank File Loaded1=");
}

// SIGTERM while the start-up sequence waits or uploads, or with a modal window
// open: the process ends soon, once, with both files saved, and the bank whose
// upload was cut short is recorded as holding nothing known.
void TestApp::terminationAtAnyMoment()
{
#ifdef Q_OS_UNIX
    QFETCH(QString, moment);
    QTemporaryDir dir;
    const QString app = installCopy(dir);
    qx7emu::Options o;
    o.silent = moment == QLatin1String("version");
    o.replyDelayMs = moment == QLatin1String("upload") ? 20 : 0; // about two minutes of packets
    o.logFile = dir.filePath(QStringLiteral("emulator.log"));
    qx7emu::Emulator emu(o);
    QList<QByteArray> lines{";x", "Com Port=0", "x", "TCP Settings=127.0.0.1:" + QByteArray::number(emu.listenTcp())};
    while (lines.size() < 40)
        lines << QByteArray();
    lines << "Bank File Loaded1=old.bmp";
    QFile ini(dir.filePath(QStringLiteral("QX-7alt.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(configBytes(lines));
    ini.close();
    QImage picture(720, 576, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    QVERIFY(picture.save(dir.filePath(QStringLiteral("pic.bmp"))));

    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start(app, {moment == QLatin1String("warning") ? QStringLiteral("/f:missing.bmp") : QStringLiteral("/f:pic.bmp")});
    if (moment == QLatin1String("warning"))
        QTRY_VERIFY_WITH_TIMEOUT(read(o.logFile).contains("tcp connection from"), 15000);
    else if (moment == QLatin1String("version"))
        QTRY_VERIFY_WITH_TIMEOUT(emu.commands().contains(QStringLiteral("#VERSION?")), 15000);
    else
        QTRY_VERIFY_WITH_TIMEOUT(emu.packetsReceived() >= 5, 30000);
    ::kill(pid_t(p.processId()), SIGTERM);
    QVERIFY(p.waitForFinished(10000)); // a hang, or a 16 s wait and its message box, fails here
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("startup.ini"))));
    QTEST(read(ini.fileName()).split('\n').value(40).trimmed(), "bankRecord");
    if (moment == QLatin1String("upload")) {
        QVERIFY(emu.packetsReceived() < 5761);
        // The device had its pauses on the wire: after "# ", and between "#LDIM" and packet 1
        // (less 100 ms for the emulator thread's own delays on a busy machine).
        const qint64 resync = qxtest::EmulatorLogTime(o.logFile, " cmd # ");
        const qint64 ldim = qxtest::EmulatorLogTime(o.logFile, " cmd #LDIM ");
        const qint64 first = qxtest::EmulatorLogTime(o.logFile, " pkt number 1 length");
        QVERIFY2(resync >= 0 && ldim - resync >= 400, qPrintable(QString::number(ldim - resync)));
        QVERIFY2(first - ldim >= 4900, qPrintable(QString::number(first - ldim)));
    }
#else
    QSKIP("termination signals are a Unix matter");
#endif
}

void TestApp::longOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");
    QTest::newRow("version") << QStringList{"--version"} << 0 << QByteArray("QX-7alt " QX_VERSION_TEXT "\n");
    QTest::newRow("help") << QStringList{"--help"} << 0 << QByteArray("Command line options for QX-7alt application:");
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << 2 << QByteArray();
    QTest::newRow("missing file") << QStringList{"--file", "/nonexistent/Logo.bmp", "--exit"} << 2 << QByteArray();
}

void TestApp::longOptions()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QByteArray, out);
    QTemporaryDir dir;
    const QString app = installCopy(dir);
    qx7emu::Emulator emu; // a device to talk to, so no link message appears
    QFile ini(dir.filePath(QStringLiteral("QX-7alt.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(configBytes({";x", "Com Port=0", "x", "TCP Settings=127.0.0.1:" + QByteArray::number(emu.listenTcp())}));
    ini.close();
    QProcess p;
    p.start(app, args);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), status);
    QVERIFY(p.readAllStandardOutput().startsWith(out));
}

QTEST_GUILESS_MAIN(TestApp)
#include "tst_app.moc"
