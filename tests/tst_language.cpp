// Language files: the folder listing that finds them, reading and applying
// them to registered windows, the language box, and the template writer.

#include "language/languagefile.h"
#include "language/templatewriter.h"
#include "util/controls.h"
#include "util/seams.h"
#include "util/treefile.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

using namespace qx;

namespace {

const QString kHead = ";QX-7alt v1.0.7 language file";

QByteArray systemBytes(const QString &text) { return QStringEncoder(QStringConverter::System)(text); }

// Writes `lines` with CR LF ends; a name ending in "/" makes a folder instead.
void makeEntry(const QString &path, const QStringList &lines = {})
{
    QDir().mkpath(path.endsWith('/') ? path : QFileInfo(path).path());
    QFile f(path);
    if (!path.endsWith('/') && f.open(QIODevice::WriteOnly))
        f.write(systemBytes(lines.join("\r\n") + "\r\n"));
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

template <typename T> T *add(QWidget *window, const QString &name, ControlKind kind, const QString &caption = {},
                             int index = -1)
{
    auto *c = new T(window);
    RegisterControl(window, c, name, kind, index);
    SetCaption(c, caption);
    return c;
}

std::unique_ptr<QWidget> makeWindow(const QString &name, const QString &title)
{
    auto w = std::make_unique<QWidget>();
    RegisterControl(w.get(), w.get(), name, ControlKind::Window);
    w->setWindowTitle(title);
    return w;
}

// A window with a control of each kind the files deal with, at its design texts.
std::unique_ptr<QWidget> makeTestWindow()
{
    auto w = makeWindow("frmTEST", "Test window");
    add<QPushButton>(w.get(), "cmdLOAD", ControlKind::CommandButton, "Load");
    for (int i = 0; i < 4; ++i)
        add<QRadioButton>(w.get(), "optBANK", ControlKind::OptionButton, QString("Bank %1").arg(i + 1), i);
    add<QLabel>(w.get(), "labINFO", ControlKind::Label, "Info")->setTextFormat(Qt::PlainText);
    add<QCheckBox>(w.get(), "chkLOG", ControlKind::CheckBox, "Log");
    add<QGroupBox>(w.get(), "frameBANKS", ControlKind::Frame, "Banks");
    add<QLineEdit>(w.get(), "txtDIR", ControlKind::TextBox);
    add<QTimer>(w.get(), "Timer1", ControlKind::Timer);
    add<QLabel>(w.get(), "pictPREVIEW", ControlKind::Image)->setToolTip("Preview");
    add<QAction>(w.get(), "mnuFILE", ControlKind::Menu, "File");
    return w;
}

// Every text of a window and its controls, one "name[index].field=value" line each.
QStringList snapshot(const QObject *window)
{
    QStringList lines;
    for (const QObject *c : WindowControls(window)) {
        const QString id = ControlName(c) + (ControlIndex(c) >= 0 ? QString("[%1]").arg(ControlIndex(c)) : "");
        lines << id + ".caption=" + Caption(c) << id + ".tooltip=" + ToolTip(c) << id + ".tag=" + Tag(c);
    }
    return lines;
}

QStringList messageLines(const MessageTable &msg)
{
    QStringList lines;
    for (int n : MessageTable::numbers())
        lines << MessageTable::key(n) + "=" + msg(n);
    return lines;
}

// `lines` with each line of `changes` put in place of the line with its "field=" head.
QStringList changed(QStringList lines, const QStringList &changes)
{
    for (const QString &c : changes)
        for (QString &line : lines)
            if (line.startsWith(c.left(c.indexOf('=') + 1)))
                line = c;
    return lines;
}

} // namespace

class TestLanguage : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() { seams().programFolder.clear(); }
    void listing_data();
    void listing();
    void apply_data();
    void apply();
    void discover_data();
    void discover();
    void languageBox();
    void readByCode_data();
    void readByCode();
    void templateBytes();
    void templateRoundTrip();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_folder; // the program folder, inside m_dir
};

void TestLanguage::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_folder = m_dir->filePath("prog");
    QVERIFY(QDir().mkpath(m_folder));
    seams().programFolder = m_folder;
}

void TestLanguage::listing_data()
{
    QTest::addColumn<QStringList>("entries"); // in the program folder; "x/" is a folder
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("expected");
    const QString lng = "QX-7alt_*.lng";
    QTest::newRow("empty folder") << QStringList() << lng << QStringList();
    QTest::newRow("star matches an empty run, case ignored")
        << QStringList{"QX-7alt_.lng", "qx-7ALT_Fr.LNG", "QX-7alt.ini", "QX-7alt_de.lng.bak"} << lng
        << QStringList{"QX-7alt_.lng", "qx-7ALT_Fr.LNG"};
    QTest::newRow("folders and their files not listed")
        << QStringList{"QX-7alt_dir.lng/", "sub/QX-7alt_de.lng", "QX-7alt_it.lng"} << lng
        << QStringList{"QX-7alt_it.lng"};
    QTest::newRow("hidden file not listed") << QStringList{".hidden.lng", "shown.lng"} << "*.lng"
                                            << QStringList{"shown.lng"};
    QTest::newRow("only star and question mark are wildcards")
        << QStringList{"[1]+a.txt", "1a.txt", "[1]+ab.txt", "x.txt"} << "[1]+a?.txt" << QStringList{"[1]+ab.txt"};
}

void TestLanguage::listing()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, pattern);
    QFETCH(QStringList, expected);
    for (const QString &e : entries)
        makeEntry(m_folder + "/" + e);
    QStringList wanted;
    for (const QString &name : expected)
        wanted << m_folder + "/" + name;
    wanted.sort();
    // Trailing separators of the folder never double the separator in the paths.
    for (const QString &suffix : {"", "/", "//"}) {
        QStringList paths = ListTreeFiles(m_folder + suffix, pattern, true);
        paths.sort(); // the order is the directory search's own
        QCOMPARE(paths, wanted);
    }
}

void TestLanguage::apply_data()
{
    QTest::addColumn<QStringList>("lines");   // the file after its two head lines
    QTest::addColumn<QStringList>("changes"); // texts that differ from the design afterwards

    const QString ch = "Chapter=frmTEST";
    const QStringList allBanks{"optBANK[0].caption=All", "optBANK[1].caption=All", "optBANK[2].caption=All",
                               "optBANK[3].caption=All"};
    QTest::newRow("keys ignore case, blanks trimmed")
        << QStringList{"CHAPTER=frmTEST", " NAME =  cmdLOAD ", "caption=Laden", "ToolTip=a=b", "tAG=t"}
        << QStringList{"cmdLOAD.caption=Laden", "cmdLOAD.tooltip=a=b", "cmdLOAD.tag=t"};
    QTest::newRow("names and chapters are exact")
        << QStringList{ch, "Name=cmdload", "Caption=X", "Chapter=frmtest", "Name=cmdLOAD", "Caption=Y",
                       "Chapter=frmOTHER", "Name=chkLOG", "Caption=Z"}
        << QStringList();
    QTest::newRow("window caption after its chapter line") << QStringList{ch, "Caption=Fenster"}
                                                           << QStringList{"frmTEST.caption=Fenster"};
    QTest::newRow("unindexed record reaches every member") << QStringList{ch, "Name=optBANK", "Caption=All"}
                                                           << allBanks;
    QTest::newRow("indexed record after blanks") << QStringList{ch, "Name=optBANK    2", "Caption=Two"}
                                                 << QStringList{"optBANK[2].caption=Two"};
    QTest::newRow("unindexed before indexed wins for all")
        << QStringList{ch, "Name=optBANK", "Caption=All", "Name=optBANK 2", "Caption=Two"} << allBanks;
    QTest::newRow("indexed before unindexed")
        << QStringList{ch, "Name=optBANK 2", "Caption=Two", "Name=optBANK", "Caption=All"}
        << changed(allBanks, {"optBANK[2].caption=Two"});
    QTest::newRow("index rounding and leading number")
        << QStringList{ch, "Name=optBANK 2.5", "Caption=A", "Name=optBANK 1st", "Caption=B", "Name=optBANK x",
                       "Caption=C", "Name=cmdLOAD 0", "Caption=D"}
        << QStringList{"optBANK[2].caption=A", "optBANK[1].caption=B", "optBANK[0].caption=C"};
    QTest::newRow("first of two records, later line within one")
        << QStringList{ch, "Name=cmdLOAD", "Caption=A", "Caption=B", "Name=cmdLOAD", "Caption=C", "Tooltip=D"}
        << QStringList{"cmdLOAD.caption=B"};
    QTest::newRow("empty values and stray fields ignored")
        << QStringList{"Caption=Lost", "Tag=Lost", ch, "Name=cmdLOAD", "Caption=L", "Caption=  ", "Tooltip=T",
                       ";Caption=x", "Tag"}
        << QStringList{"cmdLOAD.caption=L", "cmdLOAD.tooltip=T"};
    QTest::newRow("message then caption; tooltip and tag still go to the control")
        << QStringList{ch, "Name=cmdLOAD", "Message=MSG(3)", "Caption=Port kaputt", "Tooltip=T", "Tag=t"}
        << QStringList{"cmdLOAD.tooltip=T", "cmdLOAD.tag=t", "MSG(3)=Port kaputt"};
    QTest::newRow("empty message line: caption goes to the newest record")
        << QStringList{ch, "Message=MSG(3)", "Caption=A", "Message=", "Caption=B", "Name=cmdLOAD", "Message=",
                       "Caption=C"}
        << QStringList{"MSG(3)=B", "cmdLOAD.caption=C"};
    QTest::newRow("caption that looks like markup applied verbatim")
        << QStringList{ch, "Name=labINFO", "Caption=<b>Fett</b> &amp;"}
        << QStringList{"labINFO.caption=<b>Fett</b> &amp;"};
    QTest::newRow("hand-written records reach every kind")
        << QStringList{ch, "Name=txtDIR", "Tooltip=Ordner", "Name=Timer1", "Tooltip=x", "Tag=t", "Name=mnuFILE",
                       "Caption=Dätei"}
        << QStringList{"txtDIR.tooltip=Ordner", "Timer1.tag=t", "mnuFILE.caption=Dätei", "mnuFILE.tooltip=Dätei"};
    QTest::newRow("index beyond 32 bits ends the reading")
        << QStringList{ch, "Name=cmdLOAD", "Caption=L", "Name=optBANK 3000000000", "Caption=X", "Message=MSG(3)",
                       "Caption=Y"}
        << QStringList{"cmdLOAD.caption=L"};
}

void TestLanguage::apply()
{
    QFETCH(QStringList, lines);
    QFETCH(QStringList, changes);
    makeEntry(m_folder + "/QX-7alt_DE.lng", QStringList{kHead, ";Language=Deutsch"} + lines);
    auto window = makeTestWindow();
    const QStringList design = snapshot(window.get());
    MessageTable msg;
    msg.set(3, "left over");

    ApplyLanguageAtStart("DE", {window.get()}, msg);
    QCOMPARE(snapshot(window.get()), changed(design, changes));
    QCOMPARE(messageLines(msg), changed(messageLines(MessageTable()), changes));
}

void TestLanguage::discover_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("expected"); // "CODE|Name"
    QTest::newRow("line 2 names the language, key in any case")
        << "QX-7alt_fr.lng" << QStringList{kHead, ";LANGUAGE = Français"} << QStringList{"FR|Français"};
    QTest::newRow("language line on line 1 only") << "QX-7alt_de.lng" << QStringList{";Language=Deutsch", "x=y"}
                                                  << QStringList();
    QTest::newRow("template never listed") << "QX-7alt_.lng" << QStringList{kHead, ";Language=EN"} << QStringList();
    QTest::newRow("blank code never listed") << "QX-7alt_ .lng" << QStringList{kHead, ";Language=X"} << QStringList();
    QTest::newRow("file name in other case, empty name")
        << "qx-7ALT_es.LNG" << QStringList{kHead, ";Language="} << QStringList{"ES|"};
    QTest::newRow("code keeps inner dots") << "QX-7alt_pt.br.lng" << QStringList{kHead, ";Language=Brasil"}
                                           << QStringList{"PT.BR|Brasil"};
}

void TestLanguage::discover()
{
    QFETCH(QString, name);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, expected);
    makeEntry(m_folder + "/" + name, lines);
    makeEntry(m_folder + "/QX-7alt_nl.lng/"); // a folder is never a language
    const LanguageList list = DiscoverLanguages();
    QStringList found;
    for (int i = 0; i < list.LanguageCodes.size(); ++i)
        found << list.LanguageCodes.at(i) + "|" + list.LanguageNames.value(i, "<missing>");
    QCOMPARE(found, expected);
}

void TestLanguage::languageBox()
{
    const LanguageList list{{"FR", "DE", "FR", "IT"}, {"Français", "Deutsch", "French", ""}};
    const LanguageBoxFill fill = FillLanguageBox(list, "FR");
    QCOMPARE(fill.items, QStringList({"FR Français", "DE Deutsch", "FR French", "IT "}));
    QCOMPARE(fill.selected, 2); // the later of two items with the code
    QCOMPARE(FillLanguageBox(list, "fr").selected, -1);
    QCOMPARE(FillLanguageBox(list, "EN").selected, -1);
    QCOMPARE(LanguageFromItem("fr Français"), QString("FR"));
    QCOMPARE(LanguageFromItem("IT "), QString("IT"));
    QCOMPARE(LanguageFromItem("PT Português do Brasil"), QString("PT"));
}

void TestLanguage::readByCode_data()
{
    QTest::addColumn<QStringList>("entries"); // relative to the temporary folder; the program folder is "prog"
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("read"); // the file read, "" for none
    QTest::newRow("lower-case file found by upper-case code") << QStringList{"prog/qx-7alt_fr.LNG"} << "FR"
                                                              << "prog/qx-7alt_fr.LNG";
    QTest::newRow("exact name preferred") << QStringList{"prog/QX-7alt_fr.lng", "prog/QX-7alt_FR.lng"} << "FR"
                                          << "prog/QX-7alt_FR.lng";
    QTest::newRow("no file, or a folder") << QStringList{"prog/QX-7alt_NL.lng/"} << "NL" << "";
    QTest::newRow("code with a slash") << QStringList{"prog/QX-7alt_sub/x.lng"} << "sub/x" << "";
    QTest::newRow("code leading out of the folder") << QStringList{"prog/QX-7alt_x/", "evil.lng"} << "x/../../evil"
                                                    << "";
    QTest::newRow("code of two dots") << QStringList{"prog/QX-7alt_...lng"} << ".." << "";
}

void TestLanguage::readByCode()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, code);
    QFETCH(QString, read);
    for (const QString &e : entries)
        makeEntry(m_dir->filePath(e), {kHead, "Chapter=frmTEST", "Caption=" + e});
    if (QDir(m_folder).entryList(QDir::Files).size() < entries.filter(QRegularExpression("^prog/[^/]+$")).size())
        QSKIP("names that differ in case are one file here");
    ControlRecords controls{ControlRecord()};
    MessageRecords messages{{"MSG(1)", "stale"}};
    ReadLanguageFile(code, controls, messages);
    QVERIFY(messages.isEmpty());
    QCOMPARE(controls.size(), read.isEmpty() ? 0 : 1);
    if (!read.isEmpty())
        QCOMPARE(controls.first().Caption, read);
}

void TestLanguage::templateBytes()
{
    auto one = makeWindow("frmONE", "One");
    add<QPushButton>(one.get(), "cmdGO", ControlKind::CommandButton, "Go")->setToolTip("Start it");
    add<QRadioButton>(one.get(), "optBANK", ControlKind::OptionButton, "A", 0);
    SetTag(add<QRadioButton>(one.get(), "optBANK", ControlKind::OptionButton, "B", 12), "b");
    add<QLabel>(one.get(), "labEMPTY", ControlKind::Label);
    SetTag(add<QLabel>(one.get(), "labHIDDEN", ControlKind::Label, "Hid"), "empty");
    SetTag(add<QCheckBox>(one.get(), "chkX", ControlKind::CheckBox), "t");
    add<QGroupBox>(one.get(), "frameF", ControlKind::Frame, "Fenêtre");
    add<QLabel>(one.get(), "pictLOGO", ControlKind::Image, "not written", 3)->setToolTip("Logo");
    add<QLabel>(one.get(), "pictNONE", ControlKind::PictureBox, "cap");
    SetTag(add<QAction>(one.get(), "mnuFILE", ControlKind::Menu), "empty");
    add<QLineEdit>(one.get(), "txtDIR", ControlKind::TextBox)->setToolTip("Folder");
    add<QLabel>(one.get(), "labTWO", ControlKind::Label, "Line 1\nLine 2");
    auto two = makeWindow("frmTWO", "Two");
    SetTag(two.get(), "empty");
    add<QLabel>(two.get(), "labA", ControlKind::Label, "A");
    auto three = makeWindow("frmTHREE", "");

    const QString sep(38, '_');
    QString expected = ";QX-7alt v1.0.7 language file\r\n;Language=DE\r\n\r\n" + sep
                       + "\r\nChapter=frmONE\r\nCaption=One\r\n\r\n\r\n"
                         "Name=cmdGO\r\nCaption=Go\r\nTooltip=Start it\r\n"
                         "Name=optBANK  0 \r\nCaption=A\r\nName=optBANK  12 \r\nCaption=B\r\nTag=b\r\n"
                         "Name=chkX\r\nTag=t\r\nName=frameF\r\nCaption=Fenêtre\r\nName=pictLOGO\r\nTooltip=Logo\r\n"
                         "Name=mnuFILE\r\nCaption=\r\nName=labTWO\r\nCaption=Line 1\nLine 2\r\n\r\n"
                       + sep + "\r\nChapter=frmTWO\r\n\r\n\r\nName=labA\r\nCaption=A\r\n\r\n" + sep
                       + "\r\nChapter=frmTHREE\r\nCaption=\r\n\r\n\r\n\r\n" + sep + "\r\nMiscellaneous\r\n\r\n";
    for (int n : MessageTable::numbers())
        expected += QString("Message=MSG(%1)\r\nCaption=%2\r\n").arg(n).arg(MessageTable::defaultText(n));
    expected += "\r\n;EOF\r\n";

    const QString path = LanguageTemplatePath();
    QCOMPARE(path, m_folder + "/QX-7alt_.lng");
    makeEntry(path, QStringList(300, "an older, longer template")); // replaced, not appended to
    QVERIFY(WriteLanguageTemplate({one.get(), two.get(), three.get()}, "DE", path));
    const QByteArray bytes = readFile(path);
    QCOMPARE(bytes, systemBytes(expected));
    QCOMPARE(bytes.count("\r\nMessage=MSG("), 25);
    QVERIFY(bytes.contains("?\r\nMessage=MSG(29)\r\nCaption=QX-7alt control application v1.7\r\n"));
    QVERIFY(bytes.contains("Caption=Command line options for QX-7alt application:\r\nqx-7alt.exe [/f:"));
    QCOMPARE(QDir(m_folder).entryList(QDir::Files), QStringList{"QX-7alt_.lng"});
    QVERIFY(!WriteLanguageTemplate({one.get()}, "DE", m_folder + "/missing/QX-7alt_.lng"));
}

void TestLanguage::templateRoundTrip()
{
    // The texts of a translated run, written out and read back by a fresh run.
    auto t = makeTestWindow();
    t->setWindowTitle("Testfenster");
    SetCaption(FindControl(t.get(), "cmdLOAD"), "Laden");
    SetToolTip(FindControl(t.get(), "cmdLOAD"), "Lädt = das Bild");
    SetCaption(FindControl(t.get(), "optBANK", 2), "Speicher  3");
    SetTag(FindControl(t.get(), "optBANK", 3), "vier");
    SetCaption(FindControl(t.get(), "labINFO"), "<i>Hinweis</i>");
    SetToolTip(FindControl(t.get(), "pictPREVIEW"), "Vorschau");
    SetCaption(FindControl(t.get(), "mnuFILE"), "Datei");
    auto wait = makeWindow("frmWAIT", "Bitte warten"); // same control name, its own chapter
    add<QPushButton>(wait.get(), "cmdLOAD", ControlKind::CommandButton, "Halt");
    QVERIFY(WriteLanguageTemplate({t.get(), wait.get()}, "EN", LanguageTemplatePath()));
    QVERIFY(DiscoverLanguages().LanguageCodes.isEmpty());

    // The translator's part: a name with a code and the language's name on line 2.
    QByteArray text = readFile(LanguageTemplatePath());
    text.replace(";Language=EN\r\n", ";Language=Testisch\r\n");
    QFile renamed(m_folder + "/QX-7alt_xx.lng");
    QVERIFY(renamed.open(QIODevice::WriteOnly) && renamed.write(text) == text.size());
    renamed.close();
    const LanguageList list = DiscoverLanguages();
    QCOMPARE(list.LanguageCodes + list.LanguageNames, QStringList({"XX", "Testisch"}));

    auto fresh = makeTestWindow();
    auto freshWait = makeWindow("frmWAIT", "Wait");
    add<QPushButton>(freshWait.get(), "cmdLOAD", ControlKind::CommandButton, "Stop");
    MessageTable msg;
    ApplyLanguageAtStart("XX", {fresh.get(), freshWait.get()}, msg);
    QCOMPARE(snapshot(fresh.get()), snapshot(t.get()));
    QCOMPARE(snapshot(freshWait.get()), snapshot(wait.get()));
    // A multi-line default comes back as its first line only; the translator joins it with "|".
    QCOMPARE(msg(20), MessageTable::defaultText(20).section("\r\n", 0, 0));
    QCOMPARE(msg(29), MessageTable::defaultText(29));
}

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
