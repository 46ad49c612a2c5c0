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
        QStringList p;
        const auto add = [&p](bool set, const QString &text) {
            if (set)
                p << text;
        };
        add(!r.LoadFileRequest.isEmpty(), "file=" + r.LoadFileRequest);
        add(r.LoadBankRequest != 0, QString("bank=%1").arg(r.LoadBankRequest));
        add(r.CommandRequested, "cmd=" + r.CommandRequest);
        add(r.ExitRequest, "exit");
        add(r.HelpRequest, "help");
        add(!r.ConfigPathOverride.isEmpty(), "config=" + r.ConfigPathOverride);
        add(r.UsageRequest, "usage");
        add(r.VersionRequest, "version");
        add(r.Unattended, "unattended");
        add(r.QuestionWait >= 0, QString("wait=%1").arg(r.QuestionWait));
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
        QVERIFY(QDir::setCurrent(m_dir.path())); // where a bare name is looked up
    }

    // The switch form arrives as one text, or as arguments when the first is not a long option. In a row "@" stands
    // for the test folder as the switch form lower-cases it ("\" separators), "%" for the folder as it is.
    void requests_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("expected"); // the requests, or a part of the error text
        const auto sw = [](const char *name, const char *text, const char *expected) {
            QTest::newRow(name) << QStringList{text} << QString(expected);
        };
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
        // Lower-cased paths are looked up ignoring case, unless two entries differ only by it.
        sw("lookup: file", "/f:@\\logo.bmp /b:2", "file=%/Logo.BMP|bank=1");
        sw("lookup: a bare name, in the current folder", "/f:logo.bmp", "file=Logo.BMP");
        sw("lookup: folder too", "/f:@\\sub\\pic.jpg", "file=%/Sub/Pic.jpg");
        sw("lookup: config", "/i:@\\studio.ini", "config=%/Studio.INI");
        sw("lookup: two entries differ by case", "/f:@\\dup.txt", "file=@\\dup.txt");
        sw("lookup: missing folder", "/f:@\\nowhere\\logo.bmp", "file=@\\nowhere\\logo.bmp");
        QTest::newRow("switches as arguments") << QStringList{"/e", "/h", "--x"} << "exit";
        QTest::newRow("long: file bank exit") << QStringList{"--file", "/Pics/Logo.BMP", "--bank", "2", "--exit"}
                                              << "file=/Pics/Logo.BMP|bank=1|exit|unattended";
        QTest::newRow("long: = form") << QStringList{"--file=/a/B.jpg", "--bank=4"} << "file=/a/B.jpg|bank=3";
        QTest::newRow("long: command keeps case") << QStringList{"--command", "#Y 0,204,1"} << "cmd=#Y 0,204,1";
        QTest::newRow("long: file kept as given") << QStringList{"--file", "%/logo.bmp"} << "file=%/logo.bmp";
        QTest::newRow("long: help") << QStringList{"--help"} << "usage";
        QTest::newRow("long: config, window as usual") << QStringList{"--config", "other.ini"} << "config=other.ini";
        QTest::newRow("long: version") << QStringList{"--version", "--exit"} << "exit|version|unattended";
        QTest::newRow("long: bank 5, not clamped") << QStringList{"--bank", "5"} << "error:invalid bank number: 5";
        QTest::newRow("long: preset 17") << QStringList{"--preset", "17"} << "error:invalid preset number: 17";
        QTest::newRow("long: wait an hour") << QStringList{"--wait", "3600"} << "wait=3600";
        QTest::newRow("long: wait longer") << QStringList{"--wait=3601"} << "error:invalid wait: 3601";
        QTest::newRow("long: missing value") << QStringList{"--exit", "--file"} << "error:--file needs a value";
        QTest::newRow("long: option as value") << QStringList{"--file", "--exit"} << "error:--file needs a value";
        QTest::newRow("long: unknown") << QStringList{"--frobnicate"} << "error:unknown option: --frobnicate";
        QTest::newRow("long: stray argument") << QStringList{"--exit", "/e"} << "error:unexpected argument: /e";
        QTest::newRow("long: flag with value") << QStringList{"--exit=1"} << "error:--exit takes no value";
    }
    void requests()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, expected);
        const QString lowered = QString(m_dir.path()).replace('/', '\\').toLower();
        for (QString &text : args << expected)
            text.replace('@', lowered).replace('%', m_dir.path());
        expected = args.takeLast();
        CommandLineRequests req;
        QString error = "stale";
        const bool refused = expected.startsWith("error:"), ok = ParseArguments(args, req, &error);
        QVERIFY2(ok != refused && (refused ? error.contains(expected.mid(6)) : error.isEmpty()), qPrintable(error));
        if (!refused)
            QCOMPARE(describe(req), expected);
    }

    // A new line resets the requests but keeps the command text.
    void resetKeepsCommand()
    {
        CommandLineRequests req;
        ParseCommandLine("/f:a.bmp /b:4 /c:#old /e /h /i:x.ini", req);
        ParseCommandLine("", req);
        QCOMPARE(describe(req), QString());
        QCOMPARE(req.CommandRequest, QString("#old"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
