// The installed program: `cmake --install` into a temporary prefix, then the installed executable run as a user
// would run it, against the emulator. It keeps its settings in the user's configuration folder and leaves the
// installed files alone.

#include "emulator.h"
#include "linkrig.h"

#include <QDirIterator>
#include <QProcess>
#include <QTest>

namespace {
// Every entry under `root`: its relative path, size and modification time.
QStringList listing(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        out << QString("%1 %2 %3")
                   .arg(QDir(root).relativeFilePath(info.filePath()))
                   .arg(info.size())
                   .arg(info.lastModified().toMSecsSinceEpoch());
    }
    out.sort();
    return out;
}
} // namespace

class TestInstall : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void installedProgramKeepsSettingsInConfigFolder()
    {
#ifdef Q_OS_UNIX
        QTemporaryDir prefix, home;
        QProcess install;
        install.start(QX_CMAKE_COMMAND, {"--install", QX_BUILD_DIR, "--prefix", prefix.path()});
        QVERIFY(install.waitForFinished(120000));
        QVERIFY2(install.exitCode() == 0, install.readAllStandardError().constData());
        for (const char *file : {"bin/qx-7alt", "bin/qx7-emulator", "share/applications/io.example.qx7alt.desktop",
                                 "share/icons/hicolor/scalable/apps/qx-7alt.svg", "share/qx-7alt/README",
                                 "share/icons/hicolor/48x48/apps/qx-7alt.png", "share/doc/qx-7alt/copyright",
                                 "share/metainfo/io.example.qx7alt.metainfo.xml", "share/doc/qx-7alt/changelog.gz",
                                 "share/qx-7alt/QX-7alt_EN.lng", "share/qx-7alt/QX-7alt_DE.lng"})
            QVERIFY2(QFile::exists(prefix.filePath(file)), file);
        // The user's configuration folder selects the emulator; serial port 1 beside the program leads nowhere.
        const QString config = home.filePath(".config/QX-7alt");
        qx7emu::Emulator emu;
        const QByteArray port = QByteArray::number(emu.listenTcp());
        QVERIFY(QDir().mkpath(config) &&
                qxtest::WriteFile(config + "/QX-7alt.ini",
                                  ";x\r\nCom Port=0\r\nx\r\nTCP Settings=127.0.0.1:" + port + "\r\n"));
        QVERIFY(QFile::link(prefix.filePath("no-device"), prefix.filePath("bin/com1")));
        QVERIFY(QDir(home.path()).mkdir("Pictures")); // no picture folder stored: it starts there
        const QStringList installed = listing(prefix.path());
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.remove("XDG_CONFIG_HOME");
        p.setProcessEnvironment(env);
        p.start(prefix.filePath("bin/qx-7alt"), {"--command", "#PRST-RCL 1"});
        QTRY_COMPARE_WITH_TIMEOUT(emu.commands(), QStringList{"#PRST-RCL 1"}, 15000);
        p.terminate(); // a termination signal
        QVERIFY(p.waitForFinished(15000) && p.exitStatus() == QProcess::NormalExit);
        // Both settings files were written there (their bytes: tst_settings; after a signal: tst_app).
        QVERIFY(QFile::exists(config + "/startup.ini"));
        QVERIFY(qxtest::ReadFile(config + "/QX-7alt.ini")
                    .contains("\r\nFolderSelected=" + QFile::encodeName(home.filePath("Pictures")) + "\r\n"));
        QCOMPARE(listing(prefix.path()), installed);
        // A file in the configuration folder's place: said once, naming the folder (standard error with --exit),
        // and the run goes on.
        const QString link = home.filePath("link.ini"); // still leads to the emulator
        QVERIFY(QFile::rename(config + "/QX-7alt.ini", link) && QDir(config).removeRecursively() &&
                QFile(config).open(QIODevice::WriteOnly));
        p.start(prefix.filePath("bin/qx-7alt"), {"--config", link, "--command", "#PRST-RCL 2", "--exit"});
        QVERIFY(p.waitForFinished(15000) && p.exitCode() == 0);
        QCOMPARE(QString(p.readAllStandardError()).count(config), 1);
        QTRY_COMPARE_WITH_TIMEOUT(emu.commands().size(), 2, 5000);
#else
        QSKIP("the installed layout and termination signals are a Unix matter");
#endif
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
