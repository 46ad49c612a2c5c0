// The command line: the "/" switch form, the long options for scripts, the lookup of lower-cased file names.

#include "state/commandline.h"

#include <QtTest>

using namespace qx;

class TestCommandLine : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // The requests as one comparable text, only what differs from the reset values.
    static QString describe(const CommandLineRequests &r)
    {
        const QList<std::pair<bool, QString>> parts{
            {!r.LoadFileRequest.isEmpty(), "file=" + r.LoadFileRequest},
            {r.LoadBankRequest != 0, QString("bank=%1").arg(r.LoadBankRequest)},
            {r.CommandRequested, "cmd=" + r.CommandRequest}, {r.ExitRequest, "exit"}, {r.HelpRequest, "help"},
            {!r.ConfigPathOverride.isEmpty(), "config=" + r.ConfigPathOverride}, {r.UsageRequest, "usage"},
            {r.VersionRequest, "version"}, {r.Unattended, "unattended"}};
        QStringList p;
        for (const auto &[set, text] : parts)
            if (set) p << text;
        return p.join('|');
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir(m_dir.path()).mkdir("Sub"));
        for (const char *name : {"Logo.BMP", "Sub/Pic.jpg", "Studio.INI", "Dup.txt", "DUP.txt"})
            QVERIFY(QFile(m_dir.filePath(name)).open(QIODevice::WriteOnly));
        if (QDir(m_dir.path()).entryList(QDir::Files).size() != 4)
            QSKIP("the file system here does not tell case apart");
    }

    // The switch form arrives as one text, or as arguments when the first is not a long option.
    void requests_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("expected"); // the requests, or a part of the error text
        const auto sw = [](const char *name, const char *text, const char *expected) {
            QTest::newRow(name) << QStringList{text} << QString(expected);
        };
        sw("file bank exit", "/f:C:\\My Pictures\\Logo.BMP /b:2 /e", "file=c:\\my pictures\\logo.bmp|bank=1|exit");
        sw("quoted file", "/f:\"C:\\My Pictures\\Logo.BMP\" /b:2 /e", "file=c:\\my pictures\\logo.bmp|bank=1|exit");
        sw("command lower-cased and trimmed", "/c:  #VERSION?  /e", "cmd=#version?|exit");
        sw("bad bank stops", "/f:a.bmp /b:x /e", "file=a.bmp");
        sw("?", "/?", "help");
        sw("H lower-cased", "/H", "help");
        sw("words ignored", "/exit /hh /x:1 /helpme", "");
        sw("slash ends the file", "/f:c:/pics/a.jpg", "file=c:");
        sw("bank clamped into 1..4", "/b:9", "bank=3");
        sw("bank 0", "/b:9 /b:0", "");
        sw("bank 2.5", "/b:2.5", "bank=1");
        sw("text before first slash", "e /f:x.bmp", "file=x.bmp|exit");
        sw("no blanks, empty pieces", "//e//b:2/", "bank=1|exit");
        sw("config path", "/i:D:\\Cfg\\Studio.INI", "config=d:\\cfg\\studio.ini");
        QTest::newRow("switches as arguments") << QStringList{"/e", "/h", "--x"} << "exit";
        QTest::newRow("long: file bank exit") << QStringList{"--file", "/Pics/Logo.BMP", "--bank", "2", "--exit"}
                                              << "file=/Pics/Logo.BMP|bank=1|exit|unattended";
        QTest::newRow("long: = form") << QStringList{"--file=/a/B.jpg", "--bank=4"} << "file=/a/B.jpg|bank=3";
        QTest::newRow("long: command keeps case") << QStringList{"--command", "#Y 0,204,1"} << "cmd=#Y 0,204,1";
        QTest::newRow("long: help") << QStringList{"--help"} << "usage";
        QTest::newRow("long: config, window as usual") << QStringList{"--config", "other.ini"} << "config=other.ini";
        QTest::newRow("long: version") << QStringList{"--version", "--exit"} << "exit|version|unattended";
        QTest::newRow("long: bank 5, not clamped") << QStringList{"--bank", "5"} << "error:invalid bank number: 5";
        QTest::newRow("long: preset 17") << QStringList{"--preset", "17"} << "error:invalid preset number: 17";
        QTest::newRow("long: missing value") << QStringList{"--exit", "--file"} << "error:--file needs a value";
        QTest::newRow("long: option as value") << QStringList{"--file", "--exit"} << "error:--file needs a value";
        QTest::newRow("long: unknown") << QStringList{"--frobnicate"} << "error:unknown option: --frobnicate";
        QTest::newRow("long: stray argument") << QStringList{"--exit", "/e"} << "error:unexpected argument: /e";
        QTest::newRow("long: flag with value") << QStringList{"--exit=1"} << "error:--exit takes no value";
    }
    void requests()
    {
        QFETCH(QStringList, args); QFETCH(QString, expected);
        CommandLineRequests req;
        QString error = "stale";
        const bool ok = ParseArguments(args, req, &error);
        if (expected.startsWith("error:")) {
            QVERIFY2(!ok && error.contains(expected.mid(6)), qPrintable(error));
        } else {
            QVERIFY2(ok && error.isEmpty(), qPrintable(error));
            QCOMPARE(describe(req), expected);
        }
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

    void caseInsensitiveLookup_data()
    {
        QTest::addColumn<QString>("path"); // in the folder, as lower-cased by the switch form ("\" separators)
        QTest::addColumn<QString>("found"); // "" when the path stays as given
        QTest::newRow("file") << "logo.bmp" << "Logo.BMP";
        QTest::newRow("folder too") << "sub\\pic.jpg" << "Sub/Pic.jpg";
        QTest::newRow("config") << "studio.ini" << "Studio.INI";
        QTest::newRow("two entries differ by case") << "dup.txt" << "";
        QTest::newRow("missing folder") << "nowhere\\logo.bmp" << "";
    }
    void caseInsensitiveLookup()
    {
        QFETCH(QString, path); QFETCH(QString, found);
        const QString text = (QString(m_dir.path()).replace('/', '\\') + '\\' + path).toLower();
        CommandLineRequests req;
        QVERIFY(ParseArguments({(path.endsWith(".ini") ? "/i:" : "/f:") + text + " /b:2"}, req, nullptr));
        QCOMPARE(req.LoadFileRequest + req.ConfigPathOverride, found.isEmpty() ? text : m_dir.filePath(found));
        // A bare name is looked up in the current folder.
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        const QString bare = ResolvePathIgnoringCase("logo.bmp");
        QDir::setCurrent(before);
        QCOMPARE(bare, QString("Logo.BMP"));
        // Long options keep their values exactly.
        QVERIFY(ParseArguments({"--file", m_dir.filePath("logo.bmp")}, req, nullptr));
        QCOMPARE(req.LoadFileRequest, m_dir.filePath("logo.bmp"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
