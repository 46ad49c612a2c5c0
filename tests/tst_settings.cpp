// The startup and main configuration files: bytes written, positional reading, encodings, a full disk.

#include "linkrig.h"
#include "settings/names.h"
#include "settings/settingsfile.h"
#include "state/appstate.h"
#include "state/startup.h"
#include "util/seams.h"
#include "util/version.h"

#include <QtTest>

#include <memory>

using namespace qx;

namespace {

const QByteArray kStartupHead = ";QX-7alt v" QX_VERSION_TEXT " startup configuration file\r\n";

// A file of max(key) lines: line 1 a comment, the given lines, the others empty.
QByteArray fileOfLines(const QMap<int, QString> &lines)
{
    QByteArray out;
    for (int n = 1; n <= (lines.isEmpty() ? 1 : lines.lastKey()); ++n)
        out += lines.value(n, n == 1 ? QStringLiteral(";hand-edited") : QString()).toUtf8() + "\r\n";
    return out;
}

// One setting as text, named "ComPort", "LabelIn:3", "PresetName:16", "ShowLog" or "Startup" (language, x, y).
QString field(const Settings &s, const QString &name)
{
    const size_t n = size_t(name.section(QLatin1Char(':'), 1).toInt());
    const QMap<QString, QString> all{{"ComPort", QString::number(s.ComPort)},
                                     {"LabelIn", s.LabelIn[n]},
                                     {"PresetName", s.PresetName[n]},
                                     {"ShowLog", s.ShowLog ? "1" : "0"},
                                     {"Startup", QStringLiteral("%1 %2 %3").arg(s.Tongue).arg(s.MainX).arg(s.MainY)}};
    return all.value(name.section(QLatin1Char(':'), 0, 0), "?" + name);
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    AppState m_state;
    QString m_mounted; // a small file system of the test's own, unmounted in cleanup

    QString inDir(const QString &name) const { return m_dir->filePath(name); }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        seams().programFolder = m_dir->path();
        // Values a load must reset, and a name it must keep unless a value is stored.
        m_state = AppState();
        Settings &s = m_state.settings;
        s.Tongue = "ZZ";
        s.MainX = 77;
        s.ComPort = 9;
        s.ShowLog = true;
        s.LabelIn[1] = "Kept";
    }
    void cleanup()
    {
        seams().programFolder.clear();
        if (!m_mounted.isEmpty())
            QProcess::execute("umount", {std::exchange(m_mounted, QString())});
    }

    void writtenFiles() // and read back
    {
        Settings &s = m_state.settings;
        s.LabelIn[1].clear();
        s.LabelWin[4] = "A = B\r\nC"; // a line break would shift every later line
        FillDefaultNames(s, kPresetDesignCaption, "Bank");
        s.Tongue = "DE";
        s.MainX = 1200;
        s.MainY = -45;
        s.ComPort = 0;
        s.ComPortSettings = "9600,n,8,1";
        s.TcpSettings = "127.0.0.1:5000";
        s.FolderSelected = "/pics";
        s.BankFileLoaded[3] = "c:\\pics\\a.bmp";
        SaveSettings(m_state.settings, m_state.cmd.ConfigPathOverride);

        QCOMPARE(qxtest::ReadFile(inDir("startup.ini")), kStartupHead + "Tongue=DE\r\nMainX= 1200 \r\nMainY=-45 \r\n");
        QString main = ";QX-7alt v" QX_VERSION_TEXT " main configuration file\r\nCom Port= 0 \r\n"
                       "Com Port Settings=9600,n,8,1\r\nTCP Settings=127.0.0.1:5000\r\n";
        const auto list = [&](const char *key, int count, const std::function<QString(int)> &value) {
            for (int n = 1; n <= count; ++n)
                main += QStringLiteral("%1%2=%3\r\n").arg(key).arg(n).arg(value(n));
        };
        list("Label In", 16, [](int n) { return QStringLiteral("Input %1").arg(n); });
        list("Label Win", 4, [](int n) { return n == 4 ? QString("A = B  C") : QStringLiteral("Window %1").arg(n); });
        list("Preset", 16, [](int n) { return QStringLiteral("preset_%1").arg(n); });
        list("Bank File Loaded", 4, [](int n) { return n == 3 ? QStringLiteral("c:\\pics\\a.bmp") : QString(); });
        list("Bank Name", 4, [](int n) { return QStringLiteral("Bank %1").arg(n); });
        main += "FolderSelected=/pics\r\n\r\n"; // the log line is always written empty
        QCOMPARE(QString::fromUtf8(qxtest::ReadFile(inDir("QX-7alt.ini"))), main);
        // Every setting but the log flag is written, so equal bytes mean all came back.
        Settings loaded;
        LoadSettings(loaded, {});
        QCOMPARE(MainConfigBytes(loaded), MainConfigBytes(s));
        QCOMPARE(StartupFileBytes(loaded), StartupFileBytes(s));
    }

    // One setting after a load and the start-up's limits, from a startup or a main configuration file as given. With
    // `written`: the main file after a save (input 1 renamed first unless `renamed` is empty), written back in the
    // encoding it was read in, accents kept, an untouched file byte for byte.
    void reading_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("renamed");
        QTest::addColumn<QByteArray>("written");
        const auto row = [](const char *name, QMap<int, QString> lines, const char *setting, const char *expected) {
            QTest::newRow(name) << "QX-7alt.ini" << fileOfLines(lines) << QString(setting) << QString(expected)
                                << QString() << QByteArray();
        };
        const auto startup = [](const char *name, const QByteArray &file, const char *expected) {
            QTest::newRow(name) << "startup.ini" << file << "Startup" << QString(expected) << QString() << QByteArray();
        };
        startup("header line not read", "Tongue=XX\r\n", "EN 0 0");
        startup("halves to even", kStartupHead + "T=DE\r\nMainX=2.5\r\nMainY=3.5\r\n", "DE 2 4");
        startup("LF, CR, CR LF ends", ";x\nTongue=IT\rMainX=3\r\nMainY=4", "IT 3 4");
        row("port -1 is tcp", {{2, "Com Port=-1"}}, "ComPort", "0");
        row("port 101 started as 100", {{2, "Com Port=101"}}, "ComPort", "100");
        row("keys not read", {{5, "Label In2=Second"}, {6, "Label In1=First"}}, "LabelIn:1", "Second");
        row("name with =", {{7, "Label In3=A = B"}}, "LabelIn:3", "A = B");
        row("last preset", {{40, "Preset16=Night"}}, "PresetName:16", "Night");
        row("log 0", {{50, "Log=0"}}, "ShowLog", "0");
        // The name of input 1 as stored, as read, as written back; in `codec` with its mark, else the bytes as they
        // are.
        const auto saved = [](const char *tag, const QByteArray &stored, const char *name, const char *renamed,
                              const QByteArray &written, const char *codec = "") {
            Settings form;
            form.FolderSelected = "/pics";
            form.LabelIn[1] = "@";
            const auto withName = [&](const QByteArray &bytes) {
                const QByteArray file = MainConfigBytes(form).replace("@", bytes);
                QStringEncoder to(codec, QStringEncoder::Flag::WriteBom);
                return *codec ? QByteArray(to(QString::fromUtf8(file))) : file;
            };
            QTest::newRow(tag) << "QX-7alt.ini" << withName(stored) << "LabelIn:1" << QString(name) << QString(renamed)
                               << withName(written);
        };
        const QByteArray suedUtf8("Kamera S\303\274d"), high1252("\x80\x81\x9F"); // octal: 'd' ends no escape
        saved("windows-1252 0x80-0x9F", high1252, "€\u0081Ÿ", "", high1252);
        saved("windows-1252 that would read back as utf-8", "\xC3\xA9\xFC", "Ã©ü", "Ã©", "\xC3\x83\xC2\xA9");
        saved("utf-8 mark kept", suedUtf8, "Kamera Süd", "", suedUtf8, "UTF-8");
        saved("utf-16 with mark", suedUtf8, "Kamera Süd", "Ω", "\xCE\xA9", "UTF-16LE");
        // NUL bytes are left out before decoding, even inside a character, and the save writes the file without them.
        const auto nul = [](const char *bytes, int size) { return QByteArray(bytes, size); };
        saved("nul inside a utf-8 character", nul("Kamera S\303\0\274d", 12), "Kamera Süd", "", suedUtf8);
        saved("utf-16 with mark and nul", nul("Kamera\0 S\303\274d", 12), "Kamera Süd", "", suedUtf8, "UTF-16LE");
        // Control bytes besides the NULs: binary, nothing read, never written over.
        saved("binary: left alone", nul("\x01\0\x02", 3), "Kept", "Nord", nul("\x01\0\x02", 3));
    }
    void reading()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, file);
        QFETCH(QString, setting);
        QFETCH(QString, renamed);
        QFETCH(QByteArray, written);
        QVERIFY(qxtest::WriteFile(inDir(name), file));
        LoadSettings(m_state.settings, m_state.cmd.ConfigPathOverride);
        LimitStartSettings(m_state.settings); // as the start-up takes them
        QTEST(field(m_state.settings, setting), "expected");
        if (written.isEmpty())
            return;
        if (!renamed.isEmpty())
            m_state.settings.LabelIn[1] = renamed;
        SaveSettings(m_state.settings, m_state.cmd.ConfigPathOverride);
        QCOMPARE(qxtest::ReadFile(inDir("QX-7alt.ini")), written);
    }

    void fullDiskKeepsOldFiles()
    {
        QVERIFY(QDir(m_dir->path()).mkdir("small"));
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=16k", "tmpfs", inDir("small")}) != 0)
            QSKIP("mounting a small file system to fill was refused: it needs root on a Unix system");
        m_mounted = inDir("small");
        seams().programFolder = m_mounted;
        const QByteArray oldMain = MainConfigBytes(m_state.settings);
        QVERIFY(qxtest::WriteFile(m_mounted + "/startup.ini", "old\r\n"));
        QVERIFY(qxtest::WriteFile(m_mounted + "/QX-7alt.ini", oldMain));
        QFile filler(m_mounted + "/filler");
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(512, 'x')) > 0)
            continue;
        m_state.settings.Tongue = "DE";
        SaveSettings(m_state.settings, m_state.cmd.ConfigPathOverride);
        QCOMPARE(qxtest::ReadFile(m_mounted + "/startup.ini"), QByteArray("old\r\n"));
        QCOMPARE(qxtest::ReadFile(m_mounted + "/QX-7alt.ini"), oldMain);
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
