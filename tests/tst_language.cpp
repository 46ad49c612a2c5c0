// Language files: reading them, applying them to registered windows; the shipped ones complete.

#include "language/languagefile.h"
#include "util/controls.h"
#include "util/seams.h"
#include "util/version.h"

#include <QtTest>
#include <QtWidgets>

using namespace qx;

namespace {

const QString kHead = ";QX-7alt v" QX_VERSION_TEXT " language file";

// "a|b|c" as a list of its pieces; "" as the empty list.
QStringList pieces(const char *text)
{
    return *text ? QString(text).split('|') : QStringList();
}

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

    std::unique_ptr<QTemporaryDir> m_dir; // the program folder

private slots:
    void cleanup()
    {
        seams().programFolder.clear();
        seams().sharedFolder.clear();
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        seams().programFolder = m_dir->path();
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
            "Chapter=frmTEST|Name=cmdload|Caption=X|Chapter=frmtest|Name=cmdLOAD|Caption=Y|"
            "Chapter=frmOTHER|Name=chkLOG|Caption=Z",
            "");
        row("first record wins, later line within it",
            "Chapter=frmTEST|Name=optBANK|Caption=X|Caption=All|Name=optBANK 2|Caption=Two",
            "optBANK[0].caption=All|optBANK[1].caption=All|optBANK[2].caption=All|optBANK[3].caption=All");
        row("message then caption; tooltip and tag still go to the control",
            "Chapter=frmTEST|Name=cmdLOAD|Message=MSG(3)|Caption=Port kaputt|Tooltip=T|Tag=t",
            "cmdLOAD.tooltip=T|cmdLOAD.tag=t|MSG(3)=Port kaputt");
    }

    void apply()
    {
        QFETCH(QStringList, lines);
        QFETCH(QStringList, changes);
        QFile file(m_dir->filePath("QX-7alt_DE.lng"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
                file.write(QStringEncoder(QStringConverter::System)(
                    (QStringList{kHead, ";Language=Deutsch"} + lines).join("\r\n"))) > 0);
        auto window = makeTestWindow();
        const QStringList design = snapshot(window.get());
        MessageTable msg;
        msg.set(3, "left over");

        ApplyLanguageAtStart("DE", {window.get()}, msg);
        QCOMPARE(differences(design, window.get(), msg), changes);
    }

    // The shipped languages, found where an installation puts them: each gives the template's records in its
    // order, each field once and under its own record (a line given to another record is caught), plus tooltips
    // of controls the template leaves out; messages keep their line breaks and "%1"; the English one is the
    // design texts and defaults. A copy with a stray caption line, as the German file had, shows the check at work.
    void shippedLanguages_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("stray"); // a line the copy gets after "Message=MSG(67)"
        QTest::addColumn<QStringList>("wrong");
        QTest::newRow("English") << QString("EN") << "English" << QByteArray() << QStringList();
        QTest::newRow("German") << QString("DE") << "Deutsch" << QByteArray() << QStringList();
        QTest::newRow("German, a stray caption")
            << QString("DE") << "Deutsch" << QByteArray("Caption=x\r\n") << QStringList{"MSG(67): caption caption"};
    }
    void shippedLanguages()
    {
        QFETCH(QString, code);
        QFETCH(QString, name);
        QFETCH(QByteArray, stray);
        seams().sharedFolder = QX_LANGUAGE_DIR;
        QFile shipped(FindLanguageFile(code)), copy(m_dir->filePath(LanguageFileName(code)));
        QVERIFY(shipped.open(QIODevice::ReadOnly) && copy.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        QByteArray bytes = shipped.readAll();
        QVERIFY(copy.write(bytes.insert(bytes.indexOf('\n', bytes.indexOf("Message=MSG(67)")) + 1, stray)) ==
                bytes.size());
        const LanguageList list = DiscoverLanguages();
        QCOMPARE(list.LanguageNames.value(int(list.LanguageCodes.indexOf(code))), name);
        ControlRecords want, got;
        MessageRecords unused, messages;
        LanguageOutline template_, outline;
        ReadLanguageRecords(QX_TEST_DATA_DIR "/language_template.lng", want, unused, &template_);
        ReadLanguageRecords(FindLanguageFile(code), got, messages, &outline);
        QStringList wrong;
        qsizetype i = 0; // the template's entry due
        for (const OutlineEntry &e : outline) {
            const bool added =
                std::none_of(template_.cbegin(), template_.cend(), [&](const auto &t) { return t.record == e.record; });
            if (added ? e.fields != QStringList{"tooltip"}
                      : template_.value(i).record != e.record || template_.value(i++).fields != e.fields)
                wrong << e.record + ": " + e.fields.join(' ');
        }
        if (i != template_.size())
            wrong << "missing " + template_.value(i).record;
        QTEST(wrong, "wrong");
        for (const ControlRecord &t : want)
            if (code == "EN" && std::none_of(got.cbegin(), got.cend(), [&](const ControlRecord &r) {
                    return r.Chapter == t.Chapter && r.Name == t.Name && r.Index == t.Index && r.Caption == t.Caption &&
                           r.Tooltip == t.Tooltip && r.Tag == t.Tag;
                }))
                wrong << t.Name + ' ' + QString::number(t.Index);
        MessageTable msg;
        msg.LoadMessages(messages, false);
        for (int n : MessageTable::numbers()) {
            const QString text = ExpandBars(msg(n)), def = MessageTable::defaultText(n);
            if ((code == "EN" && text != def) || text.count("\r\n") != def.count("\r\n") ||
                text.count("%1") != def.count("%1"))
                wrong << MessageTable::key(n);
        }
        QTEST(wrong, "wrong");
        // What to do when the link would not open names the button as it reads.
        const auto reconnect =
            std::find_if(got.cbegin(), got.cend(), [](const auto &r) { return r.Name == "cmdRECONNECT"; });
        QVERIFY(reconnect != got.cend() && msg(72).contains(reconnect->Caption));
        // The About box wraps the description as one paragraph between the title and the features.
        QCOMPARE(JoinWrappedLines(ExpandBars(msg(30))).split("\r\n").size(), 3);
        // The toolkit's standard buttons in the same language: tst_language_app:toolkitTexts.
    }
};

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
