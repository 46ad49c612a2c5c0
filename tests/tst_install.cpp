// The installed program: `cmake --install` into a temporary prefix, then the
// installed executable run as a user would run it, against the emulator. It
// keeps its settings in the user's configuration folder and leaves the
// installed files alone.

#include "emulator.h"
#include "linkrig.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

class TestInstall : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void installedProgramKeepsSettingsInConfigFolder();
};

namespace {
// Every entry under `root`: its relative path, size and modification time.
QStringList listing(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        out << QDir(root).relativeFilePath(info.filePath()) + QStringLiteral(" %1 %2").arg(info.size()).arg(
                   info.lastModified().toMSecsSinceEpoch());
    }
    out.sort();
    return out;
}
} // namespace

void TestInstall::installedProgramKeepsSettingsInConfigFolder()
{
#ifdef Q_OS_UNIX
    QTemporaryDir prefix, home;
    QProcess install;
    install.start(QStringLiteral(QX_CMAKE_COMMAND),
                  {QStringLiteral("--install"), QStringLiteral(QX_BUILD_DIR), QStringLiteral("--prefix"), prefix.path()});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());
    for (const char *file : {"bin/qx-7alt", "bin/qx7-emulator", "share/applications/io.example.qx7alt.desktop",
                             "share/icons/hicolor/scalable/apps/qx-7alt.svg",
                             "share/metainfo/io.example.qx7alt.metainfo.xml", "share/qx-7alt/README"})
        QVERIFY2(QFile::exists(prefix.filePath(QString::fromLatin1(file))), file);

    // The user's configuration folder holds a configuration that selects the emulator.
    const QString config = home.filePath(QStringLiteral(".config/QX-7alt"));
    QVERIFY(QDir().mkpath(config));
    qx7emu::Emulator emu;
    const quint16 port = emu.listenTcp();
    QVERIFY(port != 0);
    QFile written(config + QStringLiteral("/QX-7alt.ini"));
    QVERIFY(written.open(QIODevice::WriteOnly));
    written.write(";x\r\nCom Port=0\r\nCom Port Settings=115200,n,8,1\r\nTCP Settings=127.0.0.1:" + QByteArray::number(port) + "\r\n");
    written.close();
    // Should the program look beside itself after all, serial port 1 of the defaults leads nowhere.
    QVERIFY(QFile::link(prefix.filePath(QStringLiteral("no-device")), prefix.filePath(QStringLiteral("bin/com1"))));
    const QStringList installed = listing(prefix.path());

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.remove(QStringLiteral("XDG_CONFIG_HOME"));
    p.setProcessEnvironment(env);
    p.start(prefix.filePath(QStringLiteral("bin/qx-7alt")), {QStringLiteral("--command"), QStringLiteral("#PRST-RCL 1")});
    QTRY_COMPARE_WITH_TIMEOUT(emu.commands(), QStringList{QStringLiteral("#PRST-RCL 1")}, 15000);
    ::kill(pid_t(p.processId()), SIGTERM);
    QVERIFY(p.waitForFinished(15000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);

    // Both settings files were written there, the configuration with all its 50 lines.
    QFile startup(config + QStringLiteral("/startup.ini"));
    QVERIFY(startup.open(QIODevice::ReadOnly));
    QVERIFY(startup.readAll().startsWith(";QX-7alt v1.0.7 startup configuration file\r\n"));
    QFile ini(config + QStringLiteral("/QX-7alt.ini"));
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QCOMPARE(ini.readAll().count("\r\n"), 50);
    QCOMPARE(listing(prefix.path()), installed);
#else
    QSKIP("the installed layout and termination signals are a Unix matter");
#endif
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
