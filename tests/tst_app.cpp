// The application as a whole process, as scripts and service managers start
// and end it: command-line requests, "/e", termination signals and the
// settings files that result. The program folder is a temporary copy.

#include "emulator.h"

#include <QDir>
#include <QFile>
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
    QVERIFY(startup.startsWith(";QX-7alt v1.0.7 startup configuration file\r\nTongue=EN\r\nMainX="));
    const QList<QByteArray> lines = read(dir.filePath(QStringLiteral("QX-7alt.ini"))).split('\n');
    QCOMPARE(lines.size(), 51); // 50 lines, each ended by CR LF
    QCOMPARE(lines[0], QByteArray(";QX-7alt v1.0.7 main configuration file\r"));
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

void TestApp::longOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out");
    QTest::newRow("version") << QStringList{"--version"} << 0 << QByteArray("QX-7alt 1.0.7\n");
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
