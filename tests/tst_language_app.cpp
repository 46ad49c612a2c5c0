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
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace qx;
using namespace qxtest;

namespace {

void writeLines(const QString &path, const QStringList &lines)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QStringEncoder(QStringConverter::System)(lines.join("\r\n") + "\r\n"));
}

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A French file as a translator makes it from the template: texts on one line, "|" where a message
// breaks, markup that must show as typed. Records in `first` come before the others and so win.
QStringList frenchLines(const QStringList &first = {})
{
    return QStringList{";QX-7alt v1.0.7 language file", ";Language=Français"} + first +
           QString("Chapter=frmMAIN\nCaption=QX-7 Panneau de commande\n"
                   "Name=labPRESETS\nCaption=Préréglages\nTooltip=Rappel rapide des préréglages\n"
                   "Name=optBANK 2\nCaption=Mémoire 3\nName=labLANG\nCaption=<b>Langue</b>\n"
                   "Chapter=frmWAIT\nName=labWAIT\nCaption=<i>Patience</i>\n"
                   "Chapter=frmWARNING\nCaption=Attention\nName=labWARNING\nCaption=(rien)\n"
                   "Name=cmdABOUT\nCaption=À propos\n"
                   "Message=MSG(3)\nCaption=Échec|port série\n"
                   "Message=MSG(20)\nCaption=Options|qx-7alt [/f:fichier]|  /e - quitter\n"
                   "Message=MSG(29)\nCaption=Application QX-7alt v1.7 (FR)\n"
                   "Message=MSG(30)\nCaption=<b>Norvel QX-7</b>||processeur vidéo\n;EOF")
               .split('\n');
}

const QStringList kFrenchAbout{"Application QX-7alt v1.7 (FR)", "<b>Norvel QX-7</b>\r\n\r\nprocesseur vidéo",
                               "Options\r\nqx-7alt [/f:fichier]\r\n  /e - quitter"};

// A program folder with the settings of a previous run in `tongue` (line 50 of the configuration:
// `line50`, serial port 7, which leads nowhere) and the French file named `frenchFile`.
struct App {
    TempProgramFolder folder;
    ScriptedSeams seams;
    std::unique_ptr<MainWindow> w;

    explicit App(const QString &tongue = "EN", const QString &line50 = {}, const QString &frenchFile = "QX-7alt_FR.lng",
                 const QStringList &first = {})
    {
        writeLines(folder.file("startup.ini"),
                   {";QX-7alt v1.0.7 startup configuration file", "Tongue=" + tongue, "MainX= 300 ", "MainY= 150 "});
        QStringList config{";QX-7alt v1.0.7 main configuration file", "Com Port= 7 "};
        while (config.size() < 49)
            config << QString();
        writeLines(folder.file("QX-7alt.ini"), config << line50);
        writeLines(folder.file(frenchFile), frenchLines(first));
    }
    MainWindow &load(const QStringList &args = {})
    {
        w = std::make_unique<MainWindow>();
        w->Form_Load(args);
        return *w;
    }
    QList<QWidget *> windows() const { return {w.get(), &w->waitWindow(), &w->warningWindow()}; }
    QStringList warningTexts() const
    {
        return {w->warningWindow().windowTitle(), w->warningWindow().labWARNING->text(),
                w->warningWindow().labTEXT->text()};
    }
};

// The lines of a window section: its "Chapter=" and caption lines, two empty lines, then the entries.
QStringList section(const QStringList &lines, const QString &window)
{
    const int start = int(lines.indexOf("Chapter=" + window));
    int end = start + 4;
    while (start >= 0 && end < lines.size() && !lines.at(end).isEmpty())
        ++end;
    return start < 0 ? QStringList() : lines.mid(start, end - start);
}

// The entry of a control in a section, its name line and fields joined by "|".
QString entry(const QStringList &section, const QString &name)
{
    int i = int(section.indexOf("Name=" + name));
    QStringList out;
    while (i >= 0 && i < section.size() && (out.isEmpty() || !section.at(i).startsWith("Name=")))
        out << section.at(i++);
    return out.join('|');
}

} // namespace

class TestLanguageApp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyCaptionedControlIsRegisteredOnceAsPlainText();
    void translatedStart_data();
    void translatedStart();
    void languageBox_data();
    void languageBox();
    void templateButton_data();
    void templateButton();
    void aboutBoxFromTheMainWindow_data();
    void aboutBoxFromTheMainWindow();
    void warningTurnsIntoAbout();
    void aboutWindowFitsItsTexts_data();
    void aboutWindowFitsItsTexts();
};

void TestLanguageApp::everyCaptionedControlIsRegisteredOnceAsPlainText()
{
    App app;
    app.load();
    for (QWidget *window : app.windows()) {
        const QList<QObject *> registered = WindowControls(window);
        QVERIFY(registered.contains(window));
        // Names with indexes are unique within a window, so a record reaches exactly the controls it names.
        QSet<QString> seen;
        for (QObject *c : registered) {
            const QString key = ControlName(c) + '/' + QString::number(ControlIndex(c));
            QVERIFY2(!seen.contains(key), qPrintable(key));
            seen.insert(key);
        }
        // An unregistered caption could never be translated nor written to the template.
        for (QWidget *child : window->findChildren<QWidget *>()) {
            const bool captioned =
                qobject_cast<QLabel *>(child) || qobject_cast<QAbstractButton *>(child) || child->inherits("QGroupBox");
            // Controls of the other windows, which the main window owns, are theirs; Qt's own widgets have no name.
            if (!captioned || child->window() != window || child->objectName().startsWith("qt_") ||
                (child->objectName().isEmpty() && !child->parentWidget()->inherits("QGroupBox") &&
                 child->parentWidget() != window))
                continue;
            const QString id = window->objectName() + '/' + child->objectName();
            QVERIFY2(registered.contains(child), qPrintable(id));
            // Texts show as typed, never as markup; the preview label only ever holds a picture.
            if (auto *label = qobject_cast<QLabel *>(child))
                QVERIFY2(Kind(label) == ControlKind::Image ? label->text().isEmpty()
                                                           : label->textFormat() == Qt::PlainText,
                         qPrintable(id));
        }
    }
}

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
    App app("FR", {}, fileName);
    MainWindow &w = app.load({"/h"});

    QCOMPARE(w.windowTitle(), QString("QX-7 Panneau de commande"));
    QCOMPARE(w.labPRESETS->text() + '|' + w.labPRESETS->toolTip(),
             QString("Préréglages|Rappel rapide des préréglages"));
    QCOMPARE(w.files().comboLANG->currentText(), QString("FR Français"));
    // The bank names of the configuration replace what the language file set.
    QCOMPARE(w.files().optBANK[2]->text(), QString("Bank 3"));
    // MSG(3) keeps its "|"; "/h": the About box in the language of the run, "|" breaking lines.
    QCOMPARE(app.seams.boxes.size(), 1);
    QCOMPARE(app.seams.boxes[0].first, QString("Échec|port série"));
    QCOMPARE(app.seams.modals, QList<QStringList>{kFrenchAbout});
    // Closed with OK: back to the translated design state.
    QCOMPARE(app.warningTexts(), (QStringList{"Attention", "(rien)", "-"}));
    QCOMPARE(w.warningWindow().cmdABOUT->text(), QString("À propos"));

    // Texts show as typed, never as markup.
    QCOMPARE(w.files().labLANG->text() + w.waitWindow().labWAIT->text(), QString("<b>Langue</b><i>Patience</i>"));
}

void TestLanguageApp::languageBox_data()
{
    QTest::addColumn<QString>("tongue");
    QTest::addColumn<QString>("selected"); // "" for none
    QTest::addColumn<QString>("choose");   // item chosen by the operator, "" for none
    QTest::addColumn<QString>("saved");    // Tongue in startup.ini after the shutdown
    const auto row = [](const char *tag, const char *tongue, const char *selected, const char *choose,
                        const char *saved) { QTest::newRow(tag) << tongue << selected << choose << saved; };
    row("stored FR selected, DE chosen", "FR", "FR Français", "DE Deutsch", "DE");
    row("stored FR kept without a choice", "FR", "FR Français", "", "FR");
    row("lower-case code selects nothing, kept", "fr", "", "", "fr");
}

void TestLanguageApp::languageBox()
{
    QFETCH(QString, tongue);
    QFETCH(QString, selected);
    QFETCH(QString, choose);
    QFETCH(QString, saved);
    App app(tongue);
    writeLines(app.folder.file("qx-7alt_de.lng"),
               {";QX-7alt v1.0.7 language file", ";Language=Deutsch", "Chapter=frmMAIN", "Caption=QX-7 Steuerung"});
    // The template and a file without its language line are not listed.
    writeLines(app.folder.file("QX-7alt_.lng"), {";QX-7alt v1.0.7 language file", ";Language=EN"});
    writeLines(app.folder.file("QX-7alt_IT.lng"), {";Language=Italiano"});
    MainWindow &w = app.load();
    QComboBox *box = w.files().comboLANG;
    QVERIFY(box->count() == 2 && box->findText("DE Deutsch") >= 0 && box->findText("FR Français") >= 0);
    QCOMPARE(box->currentText(), selected);
    const QString title = w.windowTitle();
    if (!choose.isEmpty())
        box->setCurrentIndex(box->findText(choose));
    QCOMPARE(w.state().settings.Tongue, saved);
    QCOMPARE(w.windowTitle(), title); // the new language waits for the next start
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.close();
    QCOMPARE(QString::fromUtf8(readBytes(app.folder.file("startup.ini")).split('\n').value(1)),
             "Tongue=" + saved + '\r');
}

void TestLanguageApp::templateButton_data()
{
    QTest::addColumn<QString>("tongue");
    QTest::addColumn<QStringList>("texts"); // main and warning captions; entries of labPRESETS, labWARNING, cmdABOUT
    QTest::newRow("English") << "EN"
                             << QStringList{"Caption=QX-7", "Caption=Warning",
                                            "Name=labPRESETS|Caption=Presets|Tooltip=Qick switching of layout presets",
                                            "Name=labWARNING|Caption=-", "Name=cmdABOUT|Caption=About"};
    QTest::newRow("French active: its window texts, English messages")
        << "FR"
        << QStringList{"Caption=QX-7 Panneau de commande", "Caption=Attention",
                       "Name=labPRESETS|Caption=Préréglages|Tooltip=Rappel rapide des préréglages",
                       "Name=labWARNING|Caption=(rien)", "Name=cmdABOUT|Caption=À propos"};
}

void TestLanguageApp::templateButton()
{
    QFETCH(QString, tongue);
    QFETCH(QStringList, texts);
    App app(tongue, "Log=1");
    const QByteArray startupBefore = readBytes(app.folder.file("startup.ini"));
    const QByteArray configBefore = readBytes(app.folder.file("QX-7alt.ini"));
    const QString templatePath = app.folder.file("QX-7alt_.lng");
    writeLines(templatePath, {"old template, to be replaced"});
    MainWindow &w = app.load();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // The button lies in the log column, which "Log=1" shows.
    QVERIFY(w.cmdTONGUE->isVisibleTo(&w) && w.cmdTONGUE->geometry().left() < w.width());
    QTest::mouseClick(w.cmdTONGUE, Qt::LeftButton);

    // The application ends at once, and no shutdown runs even when the window closes afterwards.
    QCOMPARE(app.seams.exits, QList<int>{0});
    QVERIFY(w.isHidden());
    w.close();
    QCOMPARE(readBytes(app.folder.file("startup.ini")), startupBefore);
    QCOMPARE(readBytes(app.folder.file("QX-7alt.ini")), configBefore);

    const QStringList lines = QString::fromUtf8(readBytes(templatePath)).split("\r\n");
    QCOMPARE(lines.value(1), ";Language=" + tongue);
    QCOMPARE(lines.filter(QRegularExpression("^Chapter=")),
             (QStringList{"Chapter=frmMAIN", "Chapter=frmWAIT", "Chapter=frmWARNING"}));
    const QStringList main = section(lines, "frmMAIN");
    const QStringList warning = section(lines, "frmWARNING");
    QCOMPARE((QStringList{main.value(1), warning.value(1), entry(main, "labPRESETS"), entry(warning, "labWARNING"),
                          entry(warning, "cmdABOUT")}),
             texts);

    QCOMPARE(main.mid(4).filter(QRegularExpression("^(Name|Caption|Tooltip|Tag)=")), main.mid(4));
    // The tab strip comes first: its panels carry no tooltip and are left out.
    QCOMPARE(main.value(4), QString("Name=labPRESETS"));
    for (const char *e :
         {"labFILES|Caption=Files and Setup", "cmdPRESET  7 |Caption=preset_7", "optBANK  2 |Caption=Bank 3",
          "chkWINENABLE  3 |Caption=Enabled", "chkWINFULL  0 |Caption=Show full screen",
          "frameWINDOW4|Caption=Window 4", "cmdREFRESH|Tooltip=Refresh current folder contents",
          "cmdTONGUE|Caption=tongue!", "frameBACK|Caption=Background"})
        QCOMPARE(entry(main, QString(e).section('|', 0, 0)), "Name=" + QString(e));
    for (const auto &[array, count] : {std::pair{"cmdPRESET", 16}, {"optWIN1INP", 85}, {"optBANK", 4}})
        QCOMPARE(main.filter(QRegularExpression(QString("^Name=%1  \\d+ $").arg(array))).size(), count);
    // Pictures without a tooltip, text boxes, lists, the combo box, shapes, timers and links are never written.
    for (const char *name : {"pictPREVIEW", "btnPRESETS", "pictABOUT", "txtDIR", "txtCOMPORT", "txtTCPSETTINGS",
                             "txtEDITINPUTNAME", "lstFILES", "lstINPUTNAMES", "lstLOG", "comboLANG", "boxPROGRESS",
                             "Timer1", "Timer_switch", "MSComm1", "Winsock1"})
        QVERIFY2(main.filter(QRegularExpression(QString("^Name=%1( |$)").arg(name))).isEmpty(), name);
    QCOMPARE(entry(warning, "cmdOK"), QString("Name=cmdOK|Caption=OK"));
    QVERIFY(!entry(warning, "labURL").isEmpty());
    QVERIFY(!entry(section(lines, "frmWAIT"), "labWAIT").isEmpty());

    // Messages in English whatever the language.
    for (const char *m : {"MSG(3)|Caption=Com port open failure", "MSG(29)|Caption=QX-7alt control application v1.7"})
        QCOMPARE(lines.value(int(lines.indexOf("Message=" + QString(m).section('|', 0, 0))) + 1),
                 QString(m).section('|', 1));
}

void TestLanguageApp::aboutBoxFromTheMainWindow_data()
{
    QTest::addColumn<QString>("clicked");
    QTest::newRow("About label") << "labABOUT";
    QTest::newRow("About panel") << "pictABOUT";
}

void TestLanguageApp::aboutBoxFromTheMainWindow()
{
    QFETCH(QString, clicked);
    App app;
    MainWindow &w = app.load();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *target = Control<QWidget>(&w, clicked);
    QVERIFY(target);
    // Away from the label when the panel itself is clicked.
    QTest::mouseClick(target, Qt::LeftButton, {}, clicked == "pictABOUT" ? QPoint(2, 2) : QPoint());
    QCOMPARE(app.seams.modals, (QList<QStringList>{{w.state().msg(29), w.state().msg(30), w.state().msg(20)}}));
    QCOMPARE(app.warningTexts(), (QStringList{"Warning", "-", "-"})); // closed with OK: the design texts
}

// The start-up warning of a missing "/f:" file, shown for real (modal); the operator presses "About", then "OK".
void TestLanguageApp::warningTurnsIntoAbout()
{
    App app("FR");
    QStringList shown, afterAbout;
    bool stillOpen = false;
    qx::seams().showModal = [&](QObject *window) {
        auto *dialog = qobject_cast<WarningWindow *>(window);
        QVERIFY(dialog);
        QTimer::singleShot(20000, dialog, &QDialog::reject); // gives up rather than hang
        QTimer::singleShot(0, dialog, [&, dialog] {
            shown = app.warningTexts();
            QTest::mouseClick(dialog->cmdABOUT, Qt::LeftButton);
            afterAbout = app.warningTexts();
            stillOpen = dialog->isVisible();
            QTest::mouseClick(dialog->cmdOK, Qt::LeftButton);
        });
        QCOMPARE(dialog->exec(), int(QDialog::Accepted));
    };
    // A "/" would end the switch's value: the file is named without a folder.
    MainWindow &w = app.load({"/f:missing.bmp"});
    // A serial link that failed already gives the first reason: MSG(18).
    QCOMPARE(shown, (QStringList{"Attention", w.state().msg(18), kFrenchAbout[2]}));
    QVERIFY(stillOpen);
    QCOMPARE(afterAbout, kFrenchAbout);
    // After OK: the design state as the language of the run made it, not the warning.
    QCOMPARE(app.warningTexts(), (QStringList{"Attention", "(rien)", "-"}));
    QVERIFY(!w.warningWindow().isVisible());
}

void TestLanguageApp::aboutWindowFitsItsTexts_data()
{
    QTest::addColumn<QString>("about");
    QTest::addColumn<QString>("usage");
    QTest::newRow("short translation") << QString() << QString();
    QTest::newRow("long translation") << QString("Une très longue description|").repeated(20)
                                      << QString("Ligne|").repeated(30);
    QTest::newRow("one long word-wrapped line") << QString("mot ").repeated(400) << "x";
}

// The About texts fit their window whatever their length: nothing is cut off and no control covers
// another; the link opens the product page; closing goes back to the designed size.
void TestLanguageApp::aboutWindowFitsItsTexts()
{
    QFETCH(QString, about);
    QFETCH(QString, usage);
    const QStringList messages{"Message=MSG(30)", "Caption=" + about, "Message=MSG(20)", "Caption=" + usage};
    App app("FR", {}, "QX-7alt_FR.lng", about.isEmpty() ? QStringList() : messages);
    WarningWindow &box = app.load().warningWindow();
    const QSize design = box.size();
    box.FillAboutTexts();
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    // Under the texts, the folder where the program keeps its files.
    QCOMPARE(box.labFOLDER->text(), "Settings folder: " + QDir::toNativeSeparators(app.folder.path()));
    for (QLabel *label : {box.labWARNING, box.labTEXT, box.labFOLDER})
        QVERIFY2(label->height() >= label->heightForWidth(label->width()), qPrintable(label->objectName()));
    QVERIFY(box.labURL->width() >= box.labURL->sizeHint().width());
    QVERIFY(box.labWARNING->geometry().bottom() < box.labTEXT->geometry().top());
    QVERIFY(box.labFOLDER->geometry().bottom() < std::min(box.labURL->y(), box.cmdABOUT->y()));
    for (QWidget *c : std::initializer_list<QWidget *>{box.labFOLDER, box.labURL, box.cmdABOUT, box.cmdOK}) {
        QVERIFY2(box.labTEXT->y() + box.labTEXT->heightForWidth(box.labTEXT->width()) <= c->y(),
                 qPrintable(c->objectName()));
        QVERIFY2(box.rect().contains(c->geometry()), qPrintable(c->objectName()));
    }
    QVERIFY(!box.labURL->geometry().intersects(box.cmdABOUT->geometry()));
    // Only the link opens the product page, and the window stays as it was.
    QTest::mouseClick(box.labWARNING, Qt::LeftButton);
    QVERIFY(app.seams.urls.isEmpty());
    QTest::mouseClick(box.labURL, Qt::LeftButton);
    QCOMPARE(app.seams.urls, QList<QUrl>{QUrl(QString::fromLatin1(kProductUrl))});
    QVERIFY(box.isVisible());
    box.cmdOK->click();
    QVERIFY(!box.isVisible());
    QCOMPARE(box.size(), design);
}

QTEST_MAIN(TestLanguageApp)
#include "tst_language_app.moc"
