// Language files, the language box, the template button and the About and
// warning windows in the running application: a MainWindow started in-process
// from a temporary program folder, with scripted dialogs.

#include "app/filespage.h"
#include "app/mainwindow.h"
#include "app/waitwindow.h"
#include "app/warningwindow.h"
#include "linkrig.h"
#include "util/controls.h"
#include "util/seams.h"

#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTest>
#include <QTimer>

using namespace qx;
using namespace qxtest;

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kSeparator(38, QLatin1Char('_'));

QByteArray systemBytes(const QString &text)
{
    return QStringEncoder(QStringConverter::System)(text);
}

void writeLines(const QString &path, const QStringList &lines)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(systemBytes(lines.join(kCrLf) + kCrLf));
}

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The two settings files of a previous run: language, position, and line 50.
void writeSettings(const TempProgramFolder &folder, const QString &tongue, const QString &line50 = QString())
{
    writeLines(folder.file(QStringLiteral("startup.ini")),
               {QStringLiteral(";QX-7alt v1.0.7 startup configuration file"), QStringLiteral("Tongue=") + tongue,
                QStringLiteral("MainX= 300 "), QStringLiteral("MainY= 150 ")});
    QStringList config{QStringLiteral(";QX-7alt v1.0.7 main configuration file"), QStringLiteral("Com Port= 7 ")};
    while (config.size() < 49)
        config << QString();
    config << line50;
    writeLines(folder.file(QStringLiteral("QX-7alt.ini")), config);
}

const QString kFrenchTitle = QStringLiteral("QX-7 Panneau de commande");
const QString kFrenchAbout = QStringLiteral("Application QX-7alt v1.7 (FR)");

// A French file as a translator makes it from the template: texts on one line,
// "|" where the multi-line messages break. Records in `first` come before the
// others and so win over them.
QStringList frenchLines(const QStringList &first = {})
{
    QStringList lines{QStringLiteral(";QX-7alt v1.0.7 language file"), QStringLiteral(";Language=Français")};
    lines += first;
    lines += QStringList{QString(),
                         kSeparator,
                         QStringLiteral("Chapter=frmMAIN"),
                         QStringLiteral("Caption=") + kFrenchTitle,
                         QString(),
                         QStringLiteral("Name=labPRESETS"),
                         QStringLiteral("Caption=Préréglages"),
                         QStringLiteral("Tooltip=Rappel rapide des préréglages"),
                         QStringLiteral("Name=optBANK  2 "),
                         QStringLiteral("Caption=Mémoire 3"),
                         QString(),
                         kSeparator,
                         QStringLiteral("Chapter=frmWARNING"),
                         QStringLiteral("Caption=Attention"),
                         QStringLiteral("Name=labWARNING"),
                         QStringLiteral("Caption=(rien)"),
                         QStringLiteral("Name=cmdABOUT"),
                         QStringLiteral("Caption=À propos"),
                         QString(),
                         kSeparator,
                         QStringLiteral("Miscellaneous"),
                         QStringLiteral("Message=MSG(3)"),
                         QStringLiteral("Caption=Échec|port série"),
                         QStringLiteral("Message=MSG(20)"),
                         QStringLiteral("Caption=Options|qx-7alt [/f:fichier]|  /e - quitter"),
                         QStringLiteral("Message=MSG(29)"),
                         QStringLiteral("Caption=") + kFrenchAbout,
                         QStringLiteral("Message=MSG(30)"),
                         QStringLiteral("Caption=Norvel QX-7||processeur vidéo"),
                         QString(),
                         QStringLiteral(";EOF")};
    return lines;
}

// The lines of a file written with CR LF ends; false when a line end is not CR LF.
bool crLfLines(const QByteArray &bytes, QStringList &lines)
{
    const QString text = QString::fromUtf8(bytes);
    if (!text.endsWith(kCrLf))
        return false;
    lines = text.left(text.size() - 2).split(kCrLf);
    for (const QString &line : lines)
        if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n')))
            return false;
    return true;
}

// The lines of a window section from its "Chapter=" line to the empty line that ends it.
QStringList section(const QStringList &lines, const QString &window)
{
    const int start = int(lines.indexOf(QStringLiteral("Chapter=") + window));
    if (start < 0)
        return {};
    // Chapter, caption, two empty lines, then the entries up to the next empty line.
    int end = start + 4;
    while (end < lines.size() && !lines.at(end).isEmpty())
        ++end;
    return lines.mid(start, end - start);
}

// The entry of a control in a section: its name line and the field lines that follow.
QStringList entry(const QStringList &section, const QString &nameLine)
{
    int i = int(section.indexOf(nameLine));
    if (i < 0)
        return {};
    QStringList out{section.at(i)};
    while (++i < section.size() && !section.at(i).startsWith(QLatin1String("Name=")))
        out << section.at(i);
    return out;
}

QStringList windowsOf(MainWindow &w)
{
    return {ControlName(&w), ControlName(&w.waitWindow()), ControlName(&w.warningWindow())};
}

} // namespace

class TestLanguageApp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void controlsCarryTheirNames_data();
    void controlsCarryTheirNames();
    void everyCaptionedWidgetIsRegistered();
    void translatedStart_data();
    void translatedStart();
    void languageBox_data();
    void languageBox();
    void templateFromTheRunningApplication();
    void templateWhileFrenchIsActive();
    void aboutBoxFromTheMainWindow_data();
    void aboutBoxFromTheMainWindow();
    void warningTurnsIntoAbout();
    void productLink();
    void longTextsAreNotCutOff_data();
    void longTextsAreNotCutOff();
    void labelsArePlainText();
};

// ---------------------------------------------------------------------------
// Names and indexes

void TestLanguageApp::controlsCarryTheirNames_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("className");
    const auto row = [](const char *tag, const char *window, const char *name, int index, const char *className) {
        QTest::newRow(tag) << QString::fromLatin1(window) << QString::fromLatin1(name) << index
                           << QString::fromLatin1(className);
    };
    row("main window", "frmMAIN", "frmMAIN", -1, "qx::MainWindow");
    row("tab label", "frmMAIN", "labPRESETS", -1, "QLabel");
    row("tab panel", "frmMAIN", "btnFILES", -1, "QFrame");
    row("about panel", "frmMAIN", "pictABOUT", -1, "QFrame");
    row("first preset", "frmMAIN", "cmdPRESET", 1, "QPushButton");
    row("last preset", "frmMAIN", "cmdPRESET", 16, "QPushButton");
    row("bank button 0", "frmMAIN", "optBANK", 0, "QRadioButton");
    row("bank button 3", "frmMAIN", "optBANK", 3, "QRadioButton");
    row("live input button", "frmMAIN", "optWIN1INP", 84, "QRadioButton");
    row("window enable 3", "frmMAIN", "chkWINENABLE", 3, "QCheckBox");
    row("window frame", "frmMAIN", "frameWINDOW4", -1, "QGroupBox");
    row("language box", "frmMAIN", "comboLANG", -1, "QComboBox");
    row("template button", "frmMAIN", "cmdTONGUE", -1, "QPushButton");
    row("wait window", "frmWAIT", "frmWAIT", -1, "qx::WaitWindow");
    row("wait label", "frmWAIT", "labWAIT", -1, "QLabel");
    row("warning window", "frmWARNING", "frmWARNING", -1, "qx::WarningWindow");
    row("warning link", "frmWARNING", "labURL", -1, "QLabel");
    row("warning OK", "frmWARNING", "cmdOK", -1, "QPushButton");
}

void TestLanguageApp::controlsCarryTheirNames()
{
    QFETCH(QString, window);
    QFETCH(QString, name);
    QFETCH(int, index);
    QFETCH(QString, className);
    TempProgramFolder folder;
    ScriptedSeams seams;
    MainWindow w;
    w.Form_Load({});
    QObject *windows[] = {&w, &w.waitWindow(), &w.warningWindow()};
    QObject *owner = nullptr;
    for (QObject *candidate : windows)
        if (candidate->objectName() == window)
            owner = candidate;
    QVERIFY2(owner, qPrintable(window));
    QObject *control = FindControl(owner, name, index);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(control->objectName(), name);
    QCOMPARE(ControlIndex(control), index);
    QCOMPARE(QString::fromLatin1(control->metaObject()->className()), className);
    // Names with indexes are unique within a window, so a record reaches exactly the controls it names.
    QSet<QString> seen;
    for (QObject *c : WindowControls(owner)) {
        const QString key = ControlName(c) + QLatin1Char('/') + QString::number(ControlIndex(c));
        QVERIFY2(!seen.contains(key), qPrintable(key));
        seen.insert(key);
    }
}

// A caption-bearing widget that was not registered could never be translated
// nor appear in the template.
void TestLanguageApp::everyCaptionedWidgetIsRegistered()
{
    TempProgramFolder folder;
    ScriptedSeams seams;
    MainWindow w;
    w.Form_Load({});
    for (QWidget *window : std::initializer_list<QWidget *>{&w, &w.waitWindow(), &w.warningWindow()}) {
        const QList<QObject *> registered = WindowControls(window);
        QVERIFY(registered.contains(window));
        for (QWidget *child : window->findChildren<QWidget *>()) {
            const bool captioned =
                qobject_cast<QLabel *>(child) || qobject_cast<QAbstractButton *>(child) || child->inherits("QGroupBox");
            // Controls of the other windows, which the main window owns, are theirs.
            if (!captioned || child->window() != window || child->objectName().startsWith(QLatin1String("qt_")))
                continue;
            // Qt's own parts (inside combo boxes, list views) have no name of ours.
            if (child->objectName().isEmpty() && !child->parentWidget()->inherits("QGroupBox") &&
                child->parentWidget() != window)
                continue;
            QVERIFY2(registered.contains(child),
                     qPrintable(QStringLiteral("%1 in %2: %3 \"%4\"")
                                    .arg(child->objectName(), window->objectName(),
                                         QString::fromLatin1(child->metaObject()->className()),
                                         child->property("text").toString())));
        }
    }
    // Creation order: array members in index order, the tab strip before the pages.
    const QList<QObject *> order = WindowControls(&w);
    QCOMPARE(order.first(), static_cast<QObject *>(&w));
    int previous = -1;
    for (int n = 1; n <= 16; ++n) {
        const int at = int(order.indexOf(FindControl(&w, QStringLiteral("cmdPRESET"), n)));
        QVERIFY(at > previous);
        previous = at;
    }
    QVERIFY(order.indexOf(static_cast<QObject *>(w.labPRESETS)) <
            order.indexOf(static_cast<QObject *>(w.framePRESETS)));
}

// ---------------------------------------------------------------------------
// Start in a language

void TestLanguageApp::translatedStart_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::newRow("file name as written") << "QX-7alt_FR.lng";
    QTest::newRow("file name in lower case") << "qx-7alt_fr.lng";
    QTest::newRow("prefix in other case, code as stored") << "QX-7ALT_FR.lng";
}

void TestLanguageApp::translatedStart()
{
    QFETCH(QString, fileName);
    TempProgramFolder folder;
    writeSettings(folder, QStringLiteral("FR"));
    writeLines(folder.file(fileName), frenchLines());
    ScriptedSeams seams;
    MainWindow w;
    w.Form_Load({QStringLiteral("/h")});

    QCOMPARE(w.windowTitle(), kFrenchTitle);
    QCOMPARE(w.labPRESETS->text(), QStringLiteral("Préréglages"));
    QCOMPARE(w.labPRESETS->toolTip(), QStringLiteral("Rappel rapide des préréglages"));
    QCOMPARE(w.files().comboLANG->currentText(), QStringLiteral("FR Français"));
    // The bank names of the configuration replace what the language file set.
    QCOMPARE(w.files().optBANK[2]->text(), QStringLiteral("Bank 3"));
    // MSG(3) keeps its "|" (serial port 7 leads nowhere here).
    QCOMPARE(seams.boxes.size(), 1);
    QCOMPARE(seams.boxes[0].first, QStringLiteral("Échec|port série"));
    // "/h": the About box in the language of the run; "|" breaks lines in MSG(20) and MSG(30).
    QCOMPARE(seams.modals.size(), 1);
    QCOMPARE(seams.modals[0].value(0), kFrenchAbout);
    QCOMPARE(seams.modals[0].value(1), QStringLiteral("Norvel QX-7\r\n\r\nprocesseur vidéo"));
    QCOMPARE(seams.modals[0].value(2), QStringLiteral("Options\r\nqx-7alt [/f:fichier]\r\n  /e - quitter"));
    // Closed with OK: back to the translated design state.
    QCOMPARE(w.warningWindow().windowTitle(), QStringLiteral("Attention"));
    QCOMPARE(w.warningWindow().labWARNING->text(), QStringLiteral("(rien)"));
    QCOMPARE(w.warningWindow().cmdABOUT->text(), QStringLiteral("À propos"));
}

// ---------------------------------------------------------------------------
// The language box

void TestLanguageApp::languageBox_data()
{
    QTest::addColumn<QString>("tongue");
    QTest::addColumn<QString>("selected"); // "" for none
    QTest::addColumn<QString>("choose");   // item chosen by the operator, "" for none
    QTest::addColumn<QString>("saved");    // Tongue in startup.ini after the shutdown
    const auto row = [](const char *tag, const char *tongue, const char *selected, const char *choose,
                        const char *saved) {
        QTest::newRow(tag) << QString::fromUtf8(tongue) << QString::fromUtf8(selected) << QString::fromUtf8(choose)
                           << QString::fromUtf8(saved);
    };
    row("stored FR selected, DE chosen", "FR", "FR Français", "DE Deutsch", "DE");
    row("stored FR kept without a choice", "FR", "FR Français", "", "FR");
    row("lower-case code selects nothing, kept", "fr", "", "", "fr");
    row("unknown code selects nothing, kept", "NL", "", "", "NL");
    row("nothing selected, FR chosen", "EN", "", "FR Français", "FR");
}

void TestLanguageApp::languageBox()
{
    QFETCH(QString, tongue);
    QFETCH(QString, selected);
    QFETCH(QString, choose);
    QFETCH(QString, saved);
    TempProgramFolder folder;
    writeSettings(folder, tongue);
    writeLines(folder.file(QStringLiteral("QX-7alt_FR.lng")), frenchLines());
    writeLines(folder.file(QStringLiteral("qx-7alt_de.lng")),
               {QStringLiteral(";QX-7alt v1.0.7 language file"), QStringLiteral(";Language=Deutsch"),
                QStringLiteral("Chapter=frmMAIN"), QStringLiteral("Caption=QX-7 Steuerung")});
    // The template and a file without its language line are not listed.
    writeLines(folder.file(QStringLiteral("QX-7alt_.lng")),
               {QStringLiteral(";QX-7alt v1.0.7 language file"), QStringLiteral(";Language=EN")});
    writeLines(folder.file(QStringLiteral("QX-7alt_IT.lng")), {QStringLiteral(";Language=Italiano")});
    ScriptedSeams seams;
    {
        MainWindow w;
        w.Form_Load({});
        QComboBox *box = w.files().comboLANG;
        QStringList items;
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i);
        items.sort();
        QCOMPARE(items, (QStringList{QStringLiteral("DE Deutsch"), QStringLiteral("FR Français")}));
        QCOMPARE(box->currentText(), selected);
        QCOMPARE(w.state().settings.Tongue, tongue);
        const QString title = w.windowTitle();
        const QString presets = w.labPRESETS->text();
        if (!choose.isEmpty()) {
            box->setCurrentIndex(box->findText(choose));
            QCOMPARE(w.state().settings.Tongue, saved);
            // The new language waits for the next start.
            QCOMPARE(w.windowTitle(), title);
            QCOMPARE(w.labPRESETS->text(), presets);
        }
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.close();
    }
    const QList<QByteArray> startup = readBytes(folder.file(QStringLiteral("startup.ini"))).split('\n');
    QCOMPARE(QString::fromUtf8(startup.value(1)), QStringLiteral("Tongue=%1\r").arg(saved));
}

// ---------------------------------------------------------------------------
// The template button

void TestLanguageApp::templateFromTheRunningApplication()
{
    TempProgramFolder folder;
    writeSettings(folder, QStringLiteral("EN"), QStringLiteral("Log=1"));
    const QByteArray startupBefore = readBytes(folder.file(QStringLiteral("startup.ini")));
    const QByteArray configBefore = readBytes(folder.file(QStringLiteral("QX-7alt.ini")));
    const QString templatePath = folder.file(QStringLiteral("QX-7alt_.lng"));
    writeLines(templatePath, {QStringLiteral("old template, to be replaced")});
    ScriptedSeams seams;
    MainWindow w;
    w.Form_Load({});
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // The button lies in the log column, which "Log=1" shows.
    QVERIFY(w.cmdTONGUE->isVisibleTo(&w));
    QVERIFY(w.cmdTONGUE->geometry().left() < w.width());
    QTest::mouseClick(w.cmdTONGUE, Qt::LeftButton);

    // The application ends at once, and no shutdown runs even when the window closes afterwards.
    QCOMPARE(seams.exits, QList<int>{0});
    QVERIFY(w.isHidden());
    w.close();
    QCOMPARE(readBytes(folder.file(QStringLiteral("startup.ini"))), startupBefore);
    QCOMPARE(readBytes(folder.file(QStringLiteral("QX-7alt.ini"))), configBefore);

    QStringList lines;
    QVERIFY2(crLfLines(readBytes(templatePath), lines), "every line ends in CR LF");
    QCOMPARE(lines.mid(0, 8),
             (QStringList{QStringLiteral(";QX-7alt v1.0.7 language file"), QStringLiteral(";Language=EN"), QString(),
                          kSeparator, QStringLiteral("Chapter=frmMAIN"), QStringLiteral("Caption=QX-7"), QString(),
                          QString()}));
    QStringList chapters;
    for (const QString &line : lines)
        if (line.startsWith(QLatin1String("Chapter=")))
            chapters << line;
    QCOMPARE(chapters, (QStringList{QStringLiteral("Chapter=frmMAIN"), QStringLiteral("Chapter=frmWAIT"),
                                    QStringLiteral("Chapter=frmWARNING")}));

    const QStringList main = section(lines, QStringLiteral("frmMAIN"));
    // Entries follow one another without empty lines, each a name line and its fields.
    for (const QString &line : main.mid(4)) {
        QVERIFY2(line.startsWith(QLatin1String("Name=")) || line.startsWith(QLatin1String("Caption=")) ||
                     line.startsWith(QLatin1String("Tooltip=")) || line.startsWith(QLatin1String("Tag=")),
                 qPrintable(line));
    }
    // The tab strip comes first: its panels carry no tooltip and are left out.
    QCOMPARE(main.value(4), QStringLiteral("Name=labPRESETS"));
    QCOMPARE(entry(main, QStringLiteral("Name=labPRESETS")),
             (QStringList{QStringLiteral("Name=labPRESETS"), QStringLiteral("Caption=Presets"),
                          QStringLiteral("Tooltip=Qick switching of layout presets")}));
    QCOMPARE(entry(main, QStringLiteral("Name=labFILES")),
             (QStringList{QStringLiteral("Name=labFILES"), QStringLiteral("Caption=Files and Setup")}));
    QCOMPARE(entry(main, QStringLiteral("Name=cmdPRESET  7 ")),
             (QStringList{QStringLiteral("Name=cmdPRESET  7 "), QStringLiteral("Caption=preset_7")}));
    QCOMPARE(entry(main, QStringLiteral("Name=optBANK  2 ")),
             (QStringList{QStringLiteral("Name=optBANK  2 "), QStringLiteral("Caption=Bank 3")}));
    QCOMPARE(
        entry(main, QStringLiteral("Name=cmdREFRESH")),
        (QStringList{QStringLiteral("Name=cmdREFRESH"), QStringLiteral("Tooltip=Refresh current folder contents")}));
    QCOMPARE(entry(main, QStringLiteral("Name=cmdTONGUE")),
             (QStringList{QStringLiteral("Name=cmdTONGUE"), QStringLiteral("Caption=tongue!")}));
    QCOMPARE(entry(main, QStringLiteral("Name=frameBACK")),
             (QStringList{QStringLiteral("Name=frameBACK"), QStringLiteral("Caption=Background")}));
    QCOMPARE(entry(main, QStringLiteral("Name=optWIN1INP  84 ")).value(0), QStringLiteral("Name=optWIN1INP  84 "));
    QCOMPARE(main.filter(QStringLiteral("Name=cmdPRESET ")).size(), 16);
    QCOMPARE(main.filter(QStringLiteral("Name=optWIN1INP ")).size(), 85);
    QCOMPARE(main.filter(QStringLiteral("Name=optBANK ")),
             (QStringList{QStringLiteral("Name=optBANK  0 "), QStringLiteral("Name=optBANK  1 "),
                          QStringLiteral("Name=optBANK  2 "), QStringLiteral("Name=optBANK  3 ")}));
    // The window's own order: tab strip, Presets, Switching, Files and Setup, log column.
    const QStringList ordered{QStringLiteral("Name=labPRESETS"),     QStringLiteral("Name=labABOUT"),
                              QStringLiteral("Name=framePRESETS"),   QStringLiteral("Name=cmdPRESET  1 "),
                              QStringLiteral("Name=cmdPRESET  16 "), QStringLiteral("Name=frameSWITCH"),
                              QStringLiteral("Name=frameWINDOW1"),   QStringLiteral("Name=frameFILES"),
                              QStringLiteral("Name=labDIR"),         QStringLiteral("Name=cmdTONGUE")};
    for (int i = 1; i < ordered.size(); ++i)
        QVERIFY2(main.indexOf(ordered[i - 1]) >= 0 && main.indexOf(ordered[i - 1]) < main.indexOf(ordered[i]),
                 qPrintable(ordered[i]));
    // Pictures without a tooltip, text boxes, lists, the combo box, shapes, timers and
    // the link components are never written, even with tooltips of their own.
    for (const char *name : {"pictPREVIEW", "btnPRESETS", "pictABOUT", "txtDIR", "txtCOMPORT", "txtTCPSETTINGS",
                             "txtEDITINPUTNAME", "lstFILES", "lstINPUTNAMES", "lstLOG", "comboLANG", "boxPROGRESS",
                             "Timer1", "Timer_switch", "MSComm1", "Winsock1"}) {
        QVERIFY2(main.filter(QRegularExpression(QStringLiteral("^Name=%1( |$)").arg(QLatin1String(name)))).isEmpty(),
                 name);
    }

    const QStringList warning = section(lines, QStringLiteral("frmWARNING"));
    QCOMPARE(warning.value(1), QStringLiteral("Caption=Warning"));
    QCOMPARE(entry(warning, QStringLiteral("Name=labWARNING")),
             (QStringList{QStringLiteral("Name=labWARNING"), QStringLiteral("Caption=-")}));
    QCOMPARE(entry(warning, QStringLiteral("Name=cmdABOUT")),
             (QStringList{QStringLiteral("Name=cmdABOUT"), QStringLiteral("Caption=About")}));
    QCOMPARE(entry(warning, QStringLiteral("Name=cmdOK")),
             (QStringList{QStringLiteral("Name=cmdOK"), QStringLiteral("Caption=OK")}));
    QVERIFY(!entry(warning, QStringLiteral("Name=labURL")).isEmpty());
    const QStringList wait = section(lines, QStringLiteral("frmWAIT"));
    QVERIFY(!entry(wait, QStringLiteral("Name=labWAIT")).isEmpty());

    // The message section: 25 messages with their English defaults, multi-line ones unchanged.
    const int misc = int(lines.indexOf(QStringLiteral("Miscellaneous")));
    QVERIFY(misc > 0);
    QCOMPARE(lines.mid(misc - 2, 4), (QStringList{QString(), kSeparator, QStringLiteral("Miscellaneous"), QString()}));
    QStringList keys;
    for (const QString &line : lines.mid(misc))
        if (line.startsWith(QLatin1String("Message=")))
            keys << line.mid(8);
    QStringList expectedKeys;
    for (int n : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 29, 30})
        expectedKeys << QStringLiteral("MSG(%1)").arg(n);
    QCOMPARE(keys, expectedKeys);
    const int usage = int(lines.indexOf(QStringLiteral("Message=MSG(20)")));
    QCOMPARE(
        lines.mid(usage, 8),
        (QStringList{QStringLiteral("Message=MSG(20)"),
                     QStringLiteral("Caption=Command line options for QX-7alt application:"),
                     QStringLiteral("qx-7alt.exe [/f:filename] [/b:bank] [/c:command] [/e]"),
                     QStringLiteral("  /f:filename - full name (including optional path) to load to bank inside QX-7"),
                     QStringLiteral("  /b:bank - memory bank number (1 to 4) to load file to. Default=1"),
                     QStringLiteral("  /c:command - immediately execute a command (Quill-800, refer to user manual)"),
                     QStringLiteral("  /e - exit application after the file is loaded. Without /e application keeps "
                                    "running normally"),
                     QStringLiteral("Message=MSG(21)")}));
    const int version = int(lines.indexOf(QStringLiteral("Message=MSG(29)")));
    QCOMPARE(lines.value(version + 1), QStringLiteral("Caption=QX-7alt control application v1.7"));
    QCOMPARE(lines.value(version + 3), QStringLiteral("Caption=Norvel QX-7 (alternative) control application."));
    QCOMPARE(lines.mid(lines.size() - 3),
             (QStringList{QStringLiteral("The machine features chroma/luma keying, transparency, quick glitch-free "
                                         "switching between inputs and layouts, any kind of scaling and zooming, "
                                         "static images memory banks, many more."),
                          QString(), QStringLiteral(";EOF")}));
}

void TestLanguageApp::templateWhileFrenchIsActive()
{
    TempProgramFolder folder;
    writeSettings(folder, QStringLiteral("FR"), QStringLiteral("Log=1"));
    writeLines(folder.file(QStringLiteral("QX-7alt_FR.lng")), frenchLines());
    ScriptedSeams seams;
    MainWindow w;
    w.Form_Load({});
    w.cmdTONGUE->click();
    QCOMPARE(seams.exits, QList<int>{0});
    QStringList lines;
    QVERIFY(crLfLines(readBytes(folder.file(QStringLiteral("QX-7alt_.lng"))), lines));
    QCOMPARE(lines.value(1), QStringLiteral(";Language=FR"));
    // Window texts in the language of the run...
    QCOMPARE(section(lines, QStringLiteral("frmMAIN")).value(1), QStringLiteral("Caption=") + kFrenchTitle);
    QCOMPARE(entry(section(lines, QStringLiteral("frmMAIN")), QStringLiteral("Name=labPRESETS")).value(1),
             QStringLiteral("Caption=Préréglages"));
    QCOMPARE(section(lines, QStringLiteral("frmWARNING")).value(1), QStringLiteral("Caption=Attention"));
    // ...messages in English.
    auto captionOf = [&lines](const QString &key) {
        return lines.value(int(lines.indexOf(QStringLiteral("Message=") + key)) + 1);
    };
    QCOMPARE(captionOf(QStringLiteral("MSG(3)")), QStringLiteral("Caption=Com port open failure"));
    QCOMPARE(captionOf(QStringLiteral("MSG(29)")), QStringLiteral("Caption=QX-7alt control application v1.7"));
    QCOMPARE(captionOf(QStringLiteral("MSG(20)")),
             QStringLiteral("Caption=Command line options for QX-7alt application:"));
}

// ---------------------------------------------------------------------------
// About and warning windows

void TestLanguageApp::aboutBoxFromTheMainWindow_data()
{
    QTest::addColumn<QString>("clicked");
    QTest::newRow("About label") << "labABOUT";
    QTest::newRow("About panel") << "pictABOUT";
}

void TestLanguageApp::aboutBoxFromTheMainWindow()
{
    QFETCH(QString, clicked);
    TempProgramFolder folder;
    ScriptedSeams seams;
    MainWindow w;
    w.Form_Load({});
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *target = qobject_cast<QWidget *>(FindControl(&w, clicked));
    QVERIFY(target);
    // Away from the label when the panel itself is clicked.
    QTest::mouseClick(target, Qt::LeftButton, {}, clicked == QLatin1String("pictABOUT") ? QPoint(2, 2) : QPoint());
    QCOMPARE(seams.modals.size(), 1);
    const QStringList about = seams.modals[0];
    QCOMPARE(about.value(0), QStringLiteral("QX-7alt control application v1.7"));
    QVERIFY(about.value(1).startsWith(QLatin1String("Norvel QX-7 (alternative) control application.\r\nQX-7 is a "
                                                    "multi-window scaler video processor, featuring up to 24 video "
                                                    "inputs\r\n")));
    QCOMPARE(about.value(1).count(kCrLf), 4);
    QVERIFY(about.value(2).startsWith(QLatin1String("Command line options for QX-7alt application:\r\n")));
    QCOMPARE(about.value(2).count(kCrLf), 5);
    QVERIFY(!about.value(2).endsWith(kCrLf));
    // Closed with OK: the window is back at its design texts.
    QCOMPARE(w.warningWindow().windowTitle(), QStringLiteral("Warning"));
    QCOMPARE(w.warningWindow().labWARNING->text(), QStringLiteral("-"));
    QCOMPARE(w.warningWindow().labTEXT->text(), QStringLiteral("-"));
}

// The start-up warning of a missing "/f:" file, shown for real (modal), where the
// operator presses "About" and then "OK".
void TestLanguageApp::warningTurnsIntoAbout()
{
    TempProgramFolder folder;
    writeSettings(folder, QStringLiteral("FR"));
    writeLines(folder.file(QStringLiteral("QX-7alt_FR.lng")), frenchLines());
    ScriptedSeams seams;
    QStringList shown, afterAbout;
    bool stillOpen = false;
    qx::seams().showModal = [&](QObject *window) {
        auto *dialog = qobject_cast<WarningWindow *>(window);
        QVERIFY(dialog);
        // Gives up rather than hang when the buttons do not close the window.
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, dialog, &QDialog::reject);
        guard.start(20000);
        QTimer::singleShot(0, dialog, [&, dialog] {
            shown = QStringList{dialog->windowTitle(), dialog->labWARNING->text(), dialog->labTEXT->text()};
            QTest::mouseClick(dialog->cmdABOUT, Qt::LeftButton);
            afterAbout = QStringList{dialog->windowTitle(), dialog->labWARNING->text(), dialog->labTEXT->text()};
            stillOpen = dialog->isVisible();
            QTest::mouseClick(dialog->cmdOK, Qt::LeftButton);
        });
        QSignalSpy finished(dialog, &QDialog::finished);
        dialog->exec();
        QVERIFY(guard.isActive());
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QCOMPARE(finished.size(), 1);
    };
    MainWindow w;
    // A "/" would end the switch's value: the file is named without a folder.
    w.Form_Load({QStringLiteral("/f:missing.bmp")});
    // A serial link that failed already gives the first reason: MSG(18).
    QCOMPARE(shown.value(0), QStringLiteral("Attention"));
    QCOMPARE(shown.value(1), w.state().msg(18));
    QCOMPARE(shown.value(2), QStringLiteral("Options\r\nqx-7alt [/f:fichier]\r\n  /e - quitter"));
    QVERIFY(stillOpen);
    QCOMPARE(afterAbout, (QStringList{kFrenchAbout, QStringLiteral("Norvel QX-7\r\n\r\nprocesseur vidéo"),
                                      QStringLiteral("Options\r\nqx-7alt [/f:fichier]\r\n  /e - quitter")}));
    // After OK: the design state as the language of the run made it, not the warning.
    QCOMPARE(w.warningWindow().windowTitle(), QStringLiteral("Attention"));
    QCOMPARE(w.warningWindow().labWARNING->text(), QStringLiteral("(rien)"));
    QCOMPARE(w.warningWindow().labTEXT->text(), QStringLiteral("-"));
    QVERIFY(!w.warningWindow().isVisible());
}

void TestLanguageApp::productLink()
{
    TempProgramFolder folder;
    ScriptedSeams seams;
    MainWindow w;
    w.Form_Load({});
    WarningWindow &warning = w.warningWindow();
    warning.FillAboutTexts();
    warning.show();
    QVERIFY(QTest::qWaitForWindowExposed(&warning));
    QTest::mouseClick(warning.labWARNING, Qt::LeftButton);
    QVERIFY(seams.urls.isEmpty());
    QTest::mouseClick(warning.labURL, Qt::LeftButton);
    QCOMPARE(seams.urls, QList<QUrl>{QUrl(QString::fromLatin1(kProductUrl))});
    QVERIFY(seams.urls[0].isValid() && seams.urls[0].scheme() == QLatin1String("https"));
    // Opening the page leaves the window as it was.
    QVERIFY(warning.isVisible());
    QCOMPARE(warning.windowTitle(), QStringLiteral("QX-7alt control application v1.7"));
    warning.cmdOK->click();
    QVERIFY(!warning.isVisible());
}

void TestLanguageApp::longTextsAreNotCutOff_data()
{
    QTest::addColumn<QString>("about");
    QTest::addColumn<QString>("usage");
    QTest::newRow("English defaults") << QString() << QString();
    QTest::newRow("long translation") << QStringLiteral("Une très longue description|").repeated(20)
                                      << QStringLiteral("Ligne|").repeated(30);
    QTest::newRow("one long word-wrapped line") << QStringLiteral("mot ").repeated(400) << QStringLiteral("x");
}

// The About texts fit their window whatever their length: nothing is cut off
// and no control covers another; closing goes back to the designed size.
void TestLanguageApp::longTextsAreNotCutOff()
{
    QFETCH(QString, about);
    QFETCH(QString, usage);
    TempProgramFolder folder;
    QStringList messages;
    if (!about.isEmpty())
        messages << QStringLiteral("Message=MSG(30)") << QStringLiteral("Caption=") + about
                 << QStringLiteral("Message=MSG(20)") << QStringLiteral("Caption=") + usage;
    writeSettings(folder, QStringLiteral("FR"));
    writeLines(folder.file(QStringLiteral("QX-7alt_FR.lng")), frenchLines(messages));
    ScriptedSeams seams;
    MainWindow w;
    w.Form_Load({});
    WarningWindow &box = w.warningWindow();
    const QSize design = box.size();
    box.FillAboutTexts();
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    for (QLabel *label : {box.labWARNING, box.labTEXT})
        QVERIFY2(label->height() >= label->heightForWidth(label->width()), qPrintable(label->objectName()));
    QVERIFY(box.labURL->width() >= box.labURL->sizeHint().width());
    QVERIFY(box.labWARNING->geometry().bottom() < box.labTEXT->geometry().top());
    const QList<QWidget *> below{box.labURL, box.cmdABOUT, box.cmdOK};
    for (QWidget *c : below) {
        QVERIFY2(box.labTEXT->y() + box.labTEXT->heightForWidth(box.labTEXT->width()) <= c->y(),
                 qPrintable(c->objectName()));
        QVERIFY2(box.rect().contains(c->geometry()), qPrintable(c->objectName()));
    }
    QVERIFY(!box.labURL->geometry().intersects(box.cmdABOUT->geometry()));
    box.cmdOK->click();
    QCOMPARE(box.size(), design);
}

// Names and translations are shown as typed, never as markup.
void TestLanguageApp::labelsArePlainText()
{
    TempProgramFolder folder;
    writeSettings(folder, QStringLiteral("FR"));
    writeLines(folder.file(QStringLiteral("QX-7alt_FR.lng")),
               frenchLines({QStringLiteral("Chapter=frmMAIN"), QStringLiteral("Name=labLANG"),
                            QStringLiteral("Caption=<b>Langue</b>"), QStringLiteral("Chapter=frmWAIT"),
                            QStringLiteral("Name=labWAIT"), QStringLiteral("Caption=<i>Patience</i>"),
                            QStringLiteral("Message=MSG(30)"), QStringLiteral("Caption=<h1>QX-7</h1>|<br>")}));
    ScriptedSeams seams;
    MainWindow w;
    w.Form_Load({QStringLiteral("/h")});
    QCOMPARE(w.files().labLANG->text(), QStringLiteral("<b>Langue</b>"));
    QCOMPARE(w.waitWindow().labWAIT->text(), QStringLiteral("<i>Patience</i>"));
    QCOMPARE(seams.modals.value(0).value(1), QStringLiteral("<h1>QX-7</h1>\r\n<br>"));
    for (QWidget *window : std::initializer_list<QWidget *>{&w, &w.waitWindow(), &w.warningWindow()}) {
        for (QLabel *label : window->findChildren<QLabel *>()) {
            if (label->objectName().startsWith(QLatin1String("qt_")))
                continue;
            // The preview is a label that only ever holds a picture, never a text.
            if (Kind(label) == ControlKind::Image) {
                QVERIFY(label->text().isEmpty());
                continue;
            }
            QVERIFY2(label->textFormat() == Qt::PlainText,
                     qPrintable(window->objectName() + QLatin1Char('/') + label->objectName()));
        }
    }
}

QTEST_MAIN(TestLanguageApp)
#include "tst_language_app.moc"
