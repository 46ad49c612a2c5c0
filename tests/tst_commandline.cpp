// The command line: the "/" switch form, the long options for scripts, and
// the case-insensitive lookup of lower-cased file names.

#include "state/commandline.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace qx;

namespace {

// The requests as one comparable text, only what differs from the reset values.
QString describe(const CommandLineRequests &r)
{
    QStringList p;
    if (!r.LoadFileRequest.isEmpty()) p << "file=" + r.LoadFileRequest;
    if (r.LoadBankRequest != 0) p << "bank=" + QString::number(r.LoadBankRequest);
    if (r.CommandRequested) p << "cmd=" + r.CommandRequest;
    if (r.ExitRequest) p << "exit";
    if (r.HelpRequest) p << "help";
    if (!r.ConfigPathOverride.isEmpty()) p << "config=" + r.ConfigPathOverride;
    if (r.UsageRequest) p << "usage";
    if (r.VersionRequest) p << "version";
    if (r.Unattended) p << "unattended";
    return p.join('|');
}

void touch(const QString &path)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // The folder written the way the switch form can carry it (no "/").
    QString backslashedDir() const { return QString(m_dir.path()).replace('/', '\\'); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QDir(m_dir.path()).mkdir("Sub"));
        for (const char *name : {"Logo.BMP", "Sub/Pic.jpg", "Studio.INI", "Dup.txt", "DUP.txt"})
            touch(m_dir.filePath(name));
        if (QDir(m_dir.path()).entryList(QDir::Files).size() != 4)
            QSKIP("the file system here does not tell case apart");
    }

    void switchForm_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no arguments") << "" << "";
        QTest::newRow("file bank exit") << "/f:C:\\My Pictures\\Logo.BMP /b:2 /e"
                                        << "file=c:\\my pictures\\logo.bmp|bank=1|exit";
        QTest::newRow("quoted file") << "/f:\"C:\\My Pictures\\Logo.BMP\" /b:2 /e"
                                     << "file=c:\\my pictures\\logo.bmp|bank=1|exit";
        QTest::newRow("command lower-cased") << "/c:#Y 0,204,1" << "cmd=#y 0,204,1";
        QTest::newRow("command trimmed") << "/c:  #VERSION?  /e" << "cmd=#version?|exit";
        QTest::newRow("bad bank stops") << "/f:a.bmp /b:x /e" << "file=a.bmp";
        QTest::newRow("empty bank stops") << "/c:#x /b: /h" << "cmd=#x";
        QTest::newRow("bank too large stops") << "/b:99999999999 /e" << "";
        QTest::newRow("help") << "/help" << "help";
        QTest::newRow("?") << "/?" << "help";
        QTest::newRow("H lower-cased") << "/H" << "help";
                QTest::newRow("words ignored") << "/exit /hh /x:1 /helpme" << "";
        QTest::newRow("slash ends the file") << "/f:c:/pics/a.jpg" << "file=c:";
        QTest::newRow("repeats") << "/e /e /b:3 /b:1" << "exit";
        QTest::newRow("bank clamped into 1..4") << "/b:9" << "bank=3";
        QTest::newRow("bank 0") << "/b:9 /b:0" << "";
        QTest::newRow("bank 2.5") << "/b:2.5" << "bank=1";
        QTest::newRow("bank 3.5") << "/b:3.5" << "bank=3";
        QTest::newRow("text before first slash") << "e /f:x.bmp" << "file=x.bmp|exit";
        QTest::newRow("no blanks, empty pieces") << "//e//b:2/" << "bank=1|exit";
        QTest::newRow("config path") << "/i:D:\\Cfg\\Studio.INI" << "config=d:\\cfg\\studio.ini";
    }
    void switchForm()
    {
        QFETCH(QString, text);
        CommandLineRequests req;
        ParseCommandLine(text, req);
        QTEST(describe(req), "expected");
    }

    void requestsResetButCommandTextKept()
    {
        CommandLineRequests req;
        ParseCommandLine("/f:a.bmp /b:4 /c:#old /e /h /i:x.ini", req);
        ParseCommandLine("", req);
        QCOMPARE(describe(req), QString());
        QCOMPARE(req.CommandRequest, QString("#old"));
        QCOMPARE(ArgumentText({"/f:a", "b.bmp", "/e"}), QString("/f:a b.bmp /e"));
    }

    void longOptions_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("expected"); // the requests, or a part of the error text
        QTest::newRow("file bank exit") << QStringList{"--file", "/Pics/Logo.BMP", "--bank", "2", "--exit"}
                                        << "file=/Pics/Logo.BMP|bank=1|exit|unattended";
        QTest::newRow("= form") << QStringList{"--file=/a/B.jpg", "--bank=4"} << "file=/a/B.jpg|bank=3";
        QTest::newRow("command keeps case") << QStringList{"--command", "#Y 0,204,1"} << "cmd=#Y 0,204,1";
        QTest::newRow("help") << QStringList{"--help"} << "usage";
        QTest::newRow("config, window as usual") << QStringList{"--config", "other.ini"} << "config=other.ini";
        QTest::newRow("version") << QStringList{"--version", "--exit"} << "exit|version|unattended";
        QTest::newRow("bank clamped") << QStringList{"--bank", "9"} << "bank=3";
        QTest::newRow("bad bank") << QStringList{"--bank", "x"} << "error:invalid bank number: x";
        QTest::newRow("missing value") << QStringList{"--exit", "--file"} << "error:--file needs a value";
        QTest::newRow("option as value") << QStringList{"--file", "--exit"} << "error:--file needs a value";
        QTest::newRow("unknown") << QStringList{"--frobnicate"} << "error:unknown option: --frobnicate";
        QTest::newRow("stray argument") << QStringList{"--exit", "/e"} << "error:unexpected argument: /e";
        QTest::newRow("flag with value") << QStringList{"--exit=1"} << "error:--exit takes no value";
        QTest::newRow("switch form when first is not --") << QStringList{"/e", "/h", "--x"} << "exit";
    }
    void longOptions()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, expected);
        CommandLineRequests req;
        QString error = "stale";
        const bool ok = ParseArguments(args, req, &error);
        if (expected.startsWith("error:")) {
            QVERIFY(!ok);
            QVERIFY2(error.contains(expected.mid(6)), qPrintable(error));
        } else {
            QVERIFY2(ok, qPrintable(error));
            QVERIFY(error.isEmpty());
            QCOMPARE(describe(req), expected);
        }
    }

    void caseInsensitiveLookup_data()
    {
        QTest::addColumn<QString>("switchText"); // "<dir>" stands for the folder with "\" separators
        QTest::addColumn<QString>("found");      // entry found, "" when the lower-cased text stays
        QTest::newRow("file") << "/f:<dir>\\logo.bmp /b:2" << "Logo.BMP";
        QTest::newRow("folder too") << "/f:<dir>\\SUB\\pic.JPG" << "Sub/Pic.jpg";
        QTest::newRow("config") << "/i:<dir>\\studio.ini" << "Studio.INI";
        QTest::newRow("two entries differ by case") << "/f:<dir>\\dup.TXT" << "";
        QTest::newRow("missing folder") << "/f:<dir>\\nowhere\\logo.bmp" << "";
    }
    void caseInsensitiveLookup()
    {
        QFETCH(QString, switchText);
        QFETCH(QString, found);
        const QString text = QString(switchText).replace("<dir>", backslashedDir());
        CommandLineRequests req;
        QString error;
        QVERIFY(ParseArguments({text}, req, &error));
        const QString got = switchText.startsWith("/i:") ? req.ConfigPathOverride : req.LoadFileRequest;
        if (found.isEmpty()) {
            CommandLineRequests plain;
            ParseCommandLine(text, plain);
            QCOMPARE(got, switchText.startsWith("/i:") ? plain.ConfigPathOverride : plain.LoadFileRequest);
        } else {
            QCOMPARE(got, m_dir.filePath(found));
        }
    }

    void lookupOfPlainPathsAndLongOptions()
    {
        // An existing path is kept as given; a bare name is looked up in the current folder.
        QCOMPARE(ResolvePathIgnoringCase(m_dir.filePath("Logo.BMP")), m_dir.filePath("Logo.BMP"));
        QCOMPARE(ResolvePathIgnoringCase(m_dir.filePath("sub/PIC.jpg")), m_dir.filePath("Sub/Pic.jpg"));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        const QString bare = ResolvePathIgnoringCase("logo.bmp");
        QDir::setCurrent(before);
        QCOMPARE(bare, QString("Logo.BMP"));

        // Long options keep their values exactly.
        CommandLineRequests req;
        QVERIFY(ParseArguments({"--file", m_dir.filePath("logo.bmp")}, req, nullptr));
        QCOMPARE(req.LoadFileRequest, m_dir.filePath("logo.bmp"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
