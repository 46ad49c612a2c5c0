// Language files: finding them, reading and applying them to registered windows, and the template writer.

#include "language/languagefile.h"
#include "language/templatewriter.h"
#include "util/controls.h"
#include "util/seams.h"
#include "util/version.h"

#include <QtWidgets>
#include <QtTest>

using namespace qx;

namespace {

const QString kHead = ";QX-7alt v" QX_VERSION_TEXT " language file";

QByteArray systemBytes(const QString &text) { return QStringEncoder(QStringConverter::System)(text); }

// Writes `lines` with CR LF ends; a name ending in "/" makes a folder instead.
void makeEntry(const QString &path, const QStringList &lines = {})
{
    QDir().mkpath(path.endsWith('/') ? path : QFileInfo(path).path());
    QFile f(path);
    if (!path.endsWith('/') && f.open(QIODevice::WriteOnly))
        f.write(systemBytes(lines.join("\r\n") + "\r\n"));
}

// "a|b|c" as a list of its pieces; "" as the empty list.
QStringList pieces(const char *text) { return *text ? QString(text).split('|') : QStringList(); }

template <typename T>
T *add(QWidget *window, const QString &name, ControlKind kind, const QString &caption = {}, int index = -1)
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

// The lines of snapshot(window) not in `design`, then the messages that differ from their defaults; sorted.
QStringList differences(const QStringList &design, const QObject *window, const MessageTable &msg)
{
    QStringList out;
    for (const QString &line : snapshot(window))
        if (!design.contains(line))
            out << line;
    for (int n : MessageTable::numbers())
        if (msg(n) != MessageTable::defaultText(n))
            out << MessageTable::key(n) + "=" + msg(n);
    out.sort();
    return out;
}

} // namespace

class TestLanguage : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_folder; // the program folder, inside m_dir

private slots:
    void cleanup() { seams().programFolder.clear(), seams().sharedFolder.clear(); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_folder = m_dir->filePath("prog");
        QVERIFY(QDir().mkpath(m_folder));
        seams().programFolder = m_folder;
        seams().sharedFolder = m_dir->filePath("share"); // where an installation puts its language files
    }

    void apply_data()
    {
        QTest::addColumn<QStringList>("lines");   // the file after its two head lines
        QTest::addColumn<QStringList>("changes"); // texts that differ from the design and defaults afterwards
        const auto row = [](const char *tag, const char *lines, const char *changes) {
            QStringList sorted = pieces(changes);
            sorted.sort();
            QTest::newRow(tag) << pieces(lines) << sorted;
        };
        row("keys ignore case, blanks trimmed; window caption after its chapter line",
            "CHAPTER=frmTEST|caption=Fenster| NAME =  cmdLOAD |caption=Laden|ToolTip=a=b|tAG=t",
            "frmTEST.caption=Fenster|cmdLOAD.caption=Laden|cmdLOAD.tooltip=a=b|cmdLOAD.tag=t");
        row("names and chapters are exact",
            "Chapter=frmTEST|Name=cmdload|Caption=X|Chapter=frmtest|Name=cmdLOAD|Caption=Y|Chapter=frmOTHER|Name=chkLOG|"
            "Caption=Z",
            "");
        row("first record wins, later line within it",
            "Chapter=frmTEST|Name=optBANK|Caption=X|Caption=All|Name=optBANK 2|Caption=Two",
            "optBANK[0].caption=All|optBANK[1].caption=All|optBANK[2].caption=All|optBANK[3].caption=All");
        row("indexed before unindexed", "Chapter=frmTEST|Name=optBANK 2|Caption=Two|Name=optBANK|Caption=All",
            "optBANK[0].caption=All|optBANK[1].caption=All|optBANK[2].caption=Two|optBANK[3].caption=All");
        row("index after blanks, rounded, leading number",
            "Chapter=frmTEST|Name=optBANK    2.5|Caption=A|Name=optBANK 1st|Caption=B|Name=optBANK x|Caption=C|"
            "Name=cmdLOAD 0|Caption=D",
            "optBANK[2].caption=A|optBANK[1].caption=B|optBANK[0].caption=C");
        row("empty values and stray fields ignored",
            "Caption=Lost|Tag=Lost|Chapter=frmTEST|Name=cmdLOAD|Caption=L|Caption=  |Tooltip=T|;Caption=x|Tag",
            "cmdLOAD.caption=L|cmdLOAD.tooltip=T");
        row("message then caption; tooltip and tag still go to the control",
            "Chapter=frmTEST|Name=cmdLOAD|Message=MSG(3)|Caption=Port kaputt|Tooltip=T|Tag=t",
            "cmdLOAD.tooltip=T|cmdLOAD.tag=t|MSG(3)=Port kaputt");
        row("empty message line: caption goes to the newest record",
            "Chapter=frmTEST|Message=MSG(3)|Caption=A|Message=|Caption=B|Name=cmdLOAD|Message=|Caption=C",
            "MSG(3)=B|cmdLOAD.caption=C");
    }

    void apply()
    {
        QFETCH(QStringList, lines); QFETCH(QStringList, changes);
        makeEntry(m_folder + "/QX-7alt_DE.lng", QStringList{kHead, ";Language=Deutsch"} + lines);
        auto window = makeTestWindow();
        const QStringList design = snapshot(window.get());
        MessageTable msg;
        msg.set(3, "left over");

        ApplyLanguageAtStart("DE", {window.get()}, msg);
        QCOMPARE(differences(design, window.get(), msg), changes);
    }

    // Languages listed for the box and the file read for a code.
    void findByCode_data()
    {
        QTest::addColumn<QStringList>("entries"); // under the temporary folder, "#" then line 2 if not ";Language=X"
        QTest::addColumn<QString>("code"); QTest::addColumn<QString>("read"); // the file read, "" for none
        QTest::addColumn<QStringList>("listed"); // "CODE=Name"
        const auto row = [](const char *tag, const char *entries, const char *code, const char *read, const char *listed) {
            QTest::newRow(tag) << pieces(entries) << QString(code) << QString(read) << pieces(listed);
        };
        row("line 2 names the language, key in any case; lower-case file found by upper-case code",
            "prog/qx-7alt_fr.LNG#;LANGUAGE = Français", "FR", "prog/qx-7alt_fr.LNG", "FR=Français");
        row("exact name preferred", "prog/QX-7alt_fr.lng|prog/QX-7alt_FR.lng", "FR", "prog/QX-7alt_FR.lng", "FR=X|FR=X");
        row("blank code never listed; a folder never read", "prog/QX-7alt_ .lng", "NL", "", "");
        row("file name in other case, empty name", "prog/qx-7ALT_es.LNG#;Language=", "ES", "prog/qx-7ALT_es.LNG", "ES=");
        row("code leading out of the folder", "prog/QX-7alt_x/|evil.lng", "x/../../evil", "", "");
        row("installed file", "share/QX-7alt_it.lng", "IT", "share/QX-7alt_it.lng", "IT=X");
        row("program folder wins over installed", "share/QX-7alt_FR.lng|prog/qx-7alt_fr.LNG", "FR", "prog/qx-7alt_fr.LNG",
            "FR=X");
    }

    void findByCode()
    {
        QFETCH(QStringList, entries); QFETCH(QString, code); QFETCH(QString, read);
        for (const QString &e : entries)
            makeEntry(m_dir->filePath(e.section('#', 0, 0)),
                      {kHead, e.contains('#') ? e.section('#', 1) : ";Language=X", "Chapter=frmTEST", "Caption=" + e});
        if (QDir(m_folder).entryList(QDir::Files).size() < entries.filter(QRegularExpression("^prog/[^/]+$")).size())
            QSKIP("names that differ in case are one file here");
        makeEntry(m_folder + "/QX-7alt_nl.lng/");                              // a folder is never a language
        makeEntry(m_folder + "/QX-7alt_de.lng", {";Language=Deutsch", "x=y"}); // nor a file without it on line 2
        const LanguageList list = DiscoverLanguages();
        QStringList found;
        for (int i = 0; i < list.LanguageCodes.size(); ++i)
            found << list.LanguageCodes.at(i) + "=" + list.LanguageNames.value(i, "<missing>");
        QTEST(found, "listed");
        ControlRecords controls{ControlRecord()};
        MessageRecords messages{{"MSG(1)", "stale"}};
        ReadLanguageFile(code, controls, messages);
        QVERIFY(messages.isEmpty());
        QCOMPARE(controls.size() == 1 ? controls.first().Caption.section('#', 0, 0) : QString::number(controls.size()),
                 read.isEmpty() ? "0" : read);
    }

    // The shipped languages, found where an installation puts them: each gives every text and message of the
    // template, messages keep their line breaks and "%1"; the English one is the design texts and defaults.
    void shippedLanguages_data()
    {
        QTest::addColumn<QString>("code"); QTest::addColumn<QString>("name");
        QTest::newRow("English") << "EN" << "English";
        QTest::newRow("German") << "DE" << "Deutsch";
    }
    void shippedLanguages()
    {
        QFETCH(QString, code); QFETCH(QString, name);
        seams().sharedFolder = QX_LANGUAGE_DIR;
        const LanguageList list = DiscoverLanguages();
        QCOMPARE(list.LanguageNames.value(int(list.LanguageCodes.indexOf(code))), name);
        ControlRecords want, got;
        MessageRecords unused, messages;
        ReadLanguageRecords(QX_TEST_DATA_DIR "/language_template.lng", want, unused);
        ReadLanguageFile(code, got, messages);
        const auto same = [&](const QString &a, const QString &b) {
            return code == "EN" ? a == b : a.isEmpty() == b.isEmpty();
        };
        QStringList wrong;
        for (const ControlRecord &t : want)
            if (std::none_of(got.cbegin(), got.cend(), [&](const ControlRecord &r) {
                    return r.Chapter == t.Chapter && r.Name == t.Name && r.Index == t.Index &&
                           same(r.Caption, t.Caption) && same(r.Tooltip, t.Tooltip) && same(r.Tag, t.Tag);
                }))
                wrong << t.Name + ' ' + QString::number(t.Index);
        MessageTable msg;
        msg.LoadMessages(messages, false);
        QStringList keys;
        for (const MessageRecord &m : qAsConst(messages))
            keys << m.Key;
        for (int n : MessageTable::numbers()) {
            const QString text = ExpandBars(msg(n)), def = MessageTable::defaultText(n);
            if (!keys.contains(MessageTable::key(n)) || !same(text, def) || text.count("\r\n") != def.count("\r\n") ||
                text.count("%1") != def.count("%1"))
                wrong << MessageTable::key(n);
        }
        QCOMPARE(wrong, QStringList());
        QCOMPARE(keys.size(), MessageTable::numbers().size()); // and no other
    }

    void templateBytes()
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
        QString expected = ";QX-7alt v" QX_VERSION_TEXT " language file\r\n;Language=DE\r\n\r\n" + sep +
                           "\r\nChapter=frmONE\r\nCaption=One\r\n\r\n\r\n"
                           "Name=cmdGO\r\nCaption=Go\r\nTooltip=Start it\r\n"
                           "Name=optBANK  0 \r\nCaption=A\r\nName=optBANK  12 \r\nCaption=B\r\nTag=b\r\n"
                           "Name=chkX\r\nTag=t\r\nName=frameF\r\nCaption=Fenêtre\r\nName=pictLOGO\r\nTooltip=Logo\r\n"
                           "Name=mnuFILE\r\nCaption=\r\nName=labTWO\r\nCaption=Line 1\nLine 2\r\n\r\n" +
                           sep + "\r\nChapter=frmTWO\r\n\r\n\r\nName=labA\r\nCaption=A\r\n\r\n" + sep +
                           "\r\nChapter=frmTHREE\r\nCaption=\r\n\r\n\r\n\r\n" + sep + "\r\nMiscellaneous\r\n\r\n";
        for (int n : MessageTable::numbers())
            expected += QString("Message=MSG(%1)\r\nCaption=%2\r\n").arg(n).arg(MessageTable::defaultText(n));
        expected += "\r\n;EOF\r\n";

        const QString path = LanguageTemplatePath();
        QCOMPARE(path, m_folder + "/QX-7alt_.lng");
        makeEntry(path, QStringList(300, "an older, longer template")); // replaced, not appended to
        QVERIFY(WriteLanguageTemplate({one.get(), two.get(), three.get()}, "DE", path));
        QFile file(path);
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        QCOMPARE(bytes, systemBytes(expected));
        QCOMPARE(bytes.count("\r\nMessage=MSG("), 39);
        QCOMPARE(QDir(m_folder).entryList(QDir::Files), QStringList{"QX-7alt_.lng"});
        QVERIFY(!WriteLanguageTemplate({one.get()}, "DE", m_folder + "/missing/QX-7alt_.lng"));
    }

};

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
