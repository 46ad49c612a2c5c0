// Language files, the language box, the template button and the About and warning windows in the running
// application, started from a temporary program folder with scripted dialogs. Which controls the files reach,
// each once, in which order: the template's bytes.

#include "util/seams.h"
#include "util/version.h"
#include "windowrig.h"

#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStringEncoder>
#include <QTest>
#include <QTimer>

using namespace qx;
using namespace qxtest;

namespace {

void writeLines(const WindowRig &rig, const QString &name, const QStringList &lines)
{
    rig.write(name, QStringEncoder(QStringConverter::System)(lines.join("\r\n") + "\r\n"));
}

// A French file as a translator makes it from the template: texts on one line, "|" where a message
// breaks, markup that must show as typed. Records in `first` come before the others and so win.
QStringList frenchLines(const QStringList &first = {})
{
    return QStringList{";QX-7alt v" QX_VERSION_TEXT " language file", ";Language=Français"} + first +
           QString("Chapter=frmMAIN\nCaption=QX-7 Panneau de commande\nName=optBANK 2\nCaption=Mémoire 3\n"
                   "Name=labLANG\nCaption=<b>Langue</b>\nChapter=frmWAIT\nName=labWAIT\nCaption=<i>Patience</i>\n"
                   "Chapter=frmWARNING\nCaption=Attention\nName=labWARNING\nCaption=(rien)\nMessage=MSG(3)\n"
                   "Caption=Échec|port série\nMessage=MSG(20)\n"
                   "Caption=Options|qx-7alt [/f:fichier]|  /e - quitter\nMessage=MSG(29)\n"
                   "Caption=Application QX-7alt v1.7 (FR)\nMessage=MSG(30)\n"
                   "Caption=<b>Norvel QX-7</b>||processeur vidéo\n;EOF")
               .split('\n');
}

const QStringList kFrenchAbout{"Application QX-7alt v1.7 (FR)", "<b>Norvel QX-7</b>\r\n\r\nprocesseur vidéo",
                               "Options\r\nqx-7alt [/f:fichier]\r\n  /e - quitter"};

// A program folder with the settings of a previous run in `tongue` (line 50 of the configuration: `line50`,
// serial port 7, which leads nowhere) and the French file named `frenchFile`.
struct App : WindowRig {
    explicit App(const QString &tongue = "EN", const QString &line50 = {}, const QString &frenchFile = "QX-7alt_FR.lng",
                 const QStringList &first = {})
        : WindowRig({}, Link::None)
    {
        writeLines(*this, "startup.ini",
                   {";QX-7alt v" QX_VERSION_TEXT " startup configuration file", "Tongue=" + tongue, "MainX= 300 ",
                    "MainY= 150 "});
        writeConfig({"Com Port= 7 "}, line50);
        writeLines(*this, frenchFile, frenchLines(first));
    }
    QStringList warningTexts() const
    {
        return {window->warningWindow().windowTitle(), Caption(find("labWARNING")), Caption(find("labTEXT"))};
    }
};

} // namespace

class TestLanguageApp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The language of the previous run, from its file whatever the case of the file name; the operator's
    // choice in the language box takes effect at the next start.
    void translatedStart_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("choose"); // the code chosen in the language box, "" for none
        QTest::newRow("file name as written, DE chosen") << QString("QX-7alt_FR.lng") << "DE";
        QTest::newRow("file name in lower case") << QString("qx-7alt_fr.lng") << "";
    }
    void translatedStart()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, choose);
        App app("FR", {}, fileName);
        writeLines(app, "qx-7alt_de.lng",
                   {";QX-7alt v" QX_VERSION_TEXT " language file", ";Language=Deutsch", "Caption=Steuerung"});
        // The template and a file without its language line are not listed.
        writeLines(app, "QX-7alt_.lng", {";QX-7alt v" QX_VERSION_TEXT " language file", ";Language=EN"});
        writeLines(app, "QX-7alt_IT.lng", {";Language=Italiano"});
        MainWindow &w = app.start({"/h"});
        // The bank names of the configuration replace the language file's; texts show as typed, never as markup;
        // MSG(3) keeps its "|"; "/h": the About box in the language of the run, "|" breaking lines; closed with
        // OK, the warning window is back in its translated design state.
        auto *box = app.control<QComboBox>("comboLANG");
        QCOMPARE((QStringList{w.windowTitle(), Caption(app.find("optBANK", 2)),
                              Caption(app.find("labLANG")) + Caption(app.find("labWAIT")),
                              app.seams.boxes[0].first.section("\r\n", 0, 0), box->currentText()}),
                 (QStringList{"QX-7 Panneau de commande", "Bank 3", "<b>Langue</b><i>Patience</i>", "Échec|port série",
                              "FR Français"}));
        QVERIFY(box->count() == 2 && box->findText("DE Deutsch") >= 0 && app.seams.boxes.size() == 1);
        QCOMPARE(app.seams.modals, QList<QStringList>{kFrenchAbout});
        QCOMPARE(app.warningTexts(), (QStringList{"Attention", "(rien)", "-"}));
        for (QWidget *window : QList<QWidget *>{&w, &w.waitWindow(), &w.warningWindow()})
            for (QObject *c : WindowControls(window)) // texts never show as markup; the preview holds a picture
                if (auto *label = qobject_cast<QLabel *>(c); label && Kind(c) != ControlKind::Image)
                    QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(ControlName(c)));
        if (!choose.isEmpty())
            box->setCurrentIndex(box->findText("DE Deutsch"));
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.close();
        const QByteArray saved = "Tongue=" + (choose.isEmpty() ? "FR" : choose).toLatin1() + '\r';
        QCOMPARE(app.read("startup.ini").split('\n').value(1), saved);
    }

    // The template button writes the file a translator starts from, byte for byte, and ends the program.
    void templateButton()
    {
        App app("EN", "Log=1");
        const QByteArray startupBefore = app.read("startup.ini"), configBefore = app.read("QX-7alt.ini");
        writeLines(app, "QX-7alt_.lng", {"old template, to be replaced"});
        MainWindow &w = app.start();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // The button lies in the log column, which "Log=1" shows.
        QVERIFY(app.control("cmdTONGUE")->isVisibleTo(&w) && app.control("cmdTONGUE")->geometry().left() < w.width());
        app.click("cmdTONGUE");
        // The application ends at once, and no shutdown runs even when the window closes afterwards.
        QVERIFY(app.seams.exits == QList<int>{0} && w.isHidden());
        w.close();
        QVERIFY(app.read("startup.ini") == startupBefore && app.read("QX-7alt.ini") == configBefore);
        QFile expected(QX_TEST_DATA_DIR "/language_template.lng"); // the version as this build names it
        QVERIFY(expected.open(QIODevice::ReadOnly));
        QCOMPARE(app.read("QX-7alt_.lng"),
                 expected.readAll()
                     .replace("@QX_VERSION_TEXT@", QX_VERSION_TEXT)
                     .replace("@QX_VERSION_MAJOR@", QByteArray::number(QX_VERSION_MAJOR))
                     .replace("@QX_VERSION_REVISION@", QByteArray::number(QX_VERSION_REVISION)));
    }

    // The toolkit's own texts follow the language file of the run: a question box's standard buttons in
    // German with the German file, in English without one. Choosing another language than the run's says, in
    // the language of the run, that it applies at the next start.
    void toolkitTexts_data()
    {
        QTest::addColumn<bool>("germanFile");
        QTest::addColumn<QString>("choose");
        QTest::addColumn<QString>("shown"); // the buttons, then the note
        QTest::newRow("German file, English chosen")
            << true << QString("EN") << "Abbrechen|OK|Gilt ab dem nächsten Start.";
        QTest::newRow("German file, German chosen again") << true << QString("DE") << "Abbrechen|OK|";
        QTest::newRow("German stored, no file")
            << false << QString("EN") << "Cancel|OK|The language applies at the next start.";
    }
    void toolkitTexts()
    {
        QFETCH(bool, germanFile);
        QFETCH(QString, choose);
        App app("DE");
        if (germanFile)
            writeLines(app, "QX-7alt_DE.lng",
                       {";QX-7alt v" QX_VERSION_TEXT " language file", ";Language=Deutsch", "Message=MSG(52)",
                        "Caption=Gilt ab dem nächsten Start."});
        writeLines(app, "QX-7alt_EN.lng", {";QX-7alt v" QX_VERSION_TEXT " language file", ";Language=English"});
        app.start();
        // A question box as the program's message box makes it: its buttons are the toolkit's.
        QMessageBox question(QMessageBox::NoIcon, "?", "?", QMessageBox::Ok | QMessageBox::Cancel);
        QStringList shown;
        for (QAbstractButton *b : question.buttons())
            shown << b->text().remove('&');
        shown.sort();
        auto *box = app.control<QComboBox>("comboLANG");
        Q_EMIT box->activated(box->findText(choose, Qt::MatchStartsWith));
        QTEST((shown << Caption(app.find("labLANGNOTE"))).join('|'), "shown");
    }

    // The start-up warning of a missing "/f:" file, shown for real (modal); the operator presses "About",
    // then the link, then "OK". The About texts fit the window even when a translation makes them long, with a
    // long word-wrapped line: nothing is cut off and no control covers another. Only the link opens the product
    // page; OK goes back to the design texts. (The short French About texts: translatedStart.)
    void warningTurnsIntoAbout()
    {
        const QString about = QString("Une très longue description|").repeated(20) + QString("mot ").repeated(400);
        const QString usage = QString("Ligne|").repeated(30);
        App app("FR", {}, "QX-7alt_FR.lng",
                {"Message=MSG(30)", "Caption=" + about, "Message=MSG(20)", "Caption=" + usage});
        QStringList shown, afterAbout;
        bool stillOpen = false;
        qx::seams().showModal = [&](QObject *window) {
            auto *dialog = qobject_cast<WarningWindow *>(window);
            QTimer::singleShot(20000, dialog, &QDialog::reject); // gives up rather than hang
            QTimer::singleShot(0, dialog, [&, dialog] {
                shown = app.warningTexts();
                app.click("cmdABOUT");
                afterAbout = app.warningTexts();
                auto *warning = app.control<QLabel>("labWARNING"), *text = app.control<QLabel>("labTEXT");
                auto *url = app.control<QLabel>("labURL"), *folder = app.control<QLabel>("labFOLDER");
                QWidget *button = app.control("cmdABOUT");
                QCOMPARE(folder->text(), "Settings folder: " + QDir::toNativeSeparators(app.folder.path()));
                for (QLabel *label : {warning, text, folder})
                    QVERIFY2(label->height() >= label->heightForWidth(label->width()), qPrintable(label->objectName()));
                QVERIFY(url->width() >= url->sizeHint().width() && !url->geometry().intersects(button->geometry()));
                // A long main text keeps a blank line's gap above the second one.
                const int needed = warning->y() + warning->heightForWidth(warning->width());
                QVERIFY(text->y() - needed >= warning->fontMetrics().lineSpacing());
                QVERIFY(warning->geometry().bottom() < text->geometry().top());
                QVERIFY(folder->geometry().bottom() < std::min(url->y(), button->y()));
                for (QWidget *c : std::initializer_list<QWidget *>{folder, url, button, app.control("cmdOK")})
                    QVERIFY2(text->y() + text->heightForWidth(text->width()) <= c->y() &&
                                 dialog->rect().contains(c->geometry()),
                             qPrintable(c->objectName()));
                app.click("labWARNING");
                QVERIFY(app.seams.urls.isEmpty());
                app.click("labURL");
                stillOpen = dialog->isVisible();
                app.click("cmdOK");
            });
            QCOMPARE(dialog->exec(), int(QDialog::Accepted));
        };
        // A "/" would end the switch's value: the file is named without a folder.
        MainWindow &w = app.start({"/f:missing.bmp"});
        // A serial link that failed already gives the first reason: MSG(18).
        QCOMPARE(shown, (QStringList{"Attention", app.core->state.msg(18), afterAbout.value(2)}));
        // Lines broken where the translator typed them wrap as one paragraph.
        QVERIFY(afterAbout.value(1).startsWith("Une très longue description Une très"));
        QVERIFY(stillOpen && !w.warningWindow().isVisible());
        QCOMPARE(app.seams.urls, QList<QUrl>{QUrl(QString::fromLatin1(kProductUrl))});
        QCOMPARE(app.warningTexts(), (QStringList{"Attention", "(rien)", "-"}));
    }
};

QTEST_MAIN(TestLanguageApp)
#include "tst_language_app.moc"
