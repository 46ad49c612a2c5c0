// The main window driven like an operator would, offscreen: start-up with and
// without settings files, the link settings group, presets, names, the log
// column and the shutdown — against the emulator over a pseudo-terminal or TCP.

#include "app/filespage.h"
#include "app/mainwindow.h"
#include "app/switchingpage.h"
#include "app/widgets.h"
#include "emulator.h"
#include "linkrig.h"
#include "settings/settingsfile.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <cmath>

using namespace qx;
using namespace qxtest;

class TestMainWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void freshStartDefaults();
    void portBoxClamping_data();
    void portBoxClamping();
    void linkKindCheckBox();
    void restoreDefaultsKeepsPort();
    void presetClicksSendRecall();
    void diagnosticLogColumn();
    void nameEditingShowsAtOnce();
    void namesShowLiterally_data();
    void namesShowLiterally();
    void lockedControlsStayLegible_data();
    void lockedControlsStayLegible();
    void tabClicks_data();
    void tabClicks();
    void shutdownSavesPosition();
    void positionSurvivesRestarts_data();
    void positionSurvivesRestarts();
    void commandWithFailedLinkIsNotSent();
};

namespace {
QByteArray mainConfig(const QStringList &firstLines, const QString &line50 = QString())
{
    QStringList lines = firstLines;
    while (lines.size() < 49)
        lines << QString();
    lines << line50;
    return (QStringLiteral(";QX-7alt v1.0.7 main configuration file\r\n") + lines.mid(1).join(QStringLiteral("\r\n"))
            + QStringLiteral("\r\n"))
        .toUtf8();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}
} // namespace

void TestMainWindow::freshStartDefaults()
{
    TempProgramFolder folder;
    ScriptedSeams seams;
    qx7emu::Emulator emu;
    emu.openPty(folder.file(QStringLiteral("com1")));
    for (const char *name : {"Zeta.bmp", "a.BMP", "B.bmp"})
        writeFile(folder.file(QLatin1String(name)), "x");
    MainWindow w;
    w.Form_Load({});
    FilesPage &f = w.files();
    QVERIFY(seams.boxes.isEmpty()); // serial port 1 opened through com1
    QStringList listed; // the program folder, sorted without regard to case
    for (int i = 0; i < f.lstFILES->count(); ++i)
        listed << f.lstFILES->item(i)->text();
    QCOMPARE(listed, (QStringList{"a.BMP", "B.bmp", "Zeta.bmp"}));
    QVERIFY(w.link().serialPort().isOpen());
    QCOMPARE(w.link().serialPort().baudRate(), 115200);
    QVERIFY(f.txtDIR->text() == folder.path());
    QVERIFY(!w.frameFILES->isHidden());
    QVERIFY(w.framePRESETS->isHidden() && w.frameSWITCH->isHidden());
    QCOMPARE(w.pos(), QPoint(0, 0));
    QVERIFY(w.lstLOG->isHidden());
    QVERIFY(!f.chkCOM->isChecked());
    QCOMPARE(f.txtCOMPORT->text(), QStringLiteral("1"));
    QVERIFY(!f.txtTCPSETTINGS->isEnabled());
    QCOMPARE(f.lstINPUTNAMES->item(0)->text(), QStringLiteral("input1: Input 1"));
    QCOMPARE(f.lstINPUTNAMES->item(19)->text(), QStringLiteral("win4: Window 4"));
    QCOMPARE(f.lstPRESETNAMES->item(15)->text(), QStringLiteral("preset16: preset_16"));
    QCOMPARE(f.lstPRESETNAMES->item(16)->text(), QStringLiteral("bank1: Bank 1"));
    QCOMPARE(w.cmdPRESET[7]->text(), QStringLiteral("preset_7"));
    QCOMPARE(f.optBANK[3]->text(), QStringLiteral("Bank 4"));
    QVERIFY(!f.cmdLOAD->isEnabled());
    QVERIFY(f.labPICTUREBAD->isHidden() && f.labPICTUREERROR->isHidden());
    // The selected tab is light, the others dark.
    QCOMPARE(BackColor(w.btnFILES), QColor(192, 192, 192));
    QCOMPARE(BackColor(w.btnPRESETS), QColor(128, 128, 128));
    // Preset buttons show their back colour flat, beside the caption.
    QCOMPARE(w.cmdPRESET[1]->grab().toImage().pixelColor(8, w.cmdPRESET[1]->height() / 2), QColor(192, 192, 192));
    QCOMPARE(w.exchange().Timer1.isActive(), true);
}

void TestMainWindow::portBoxClamping_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("port");
    QTest::newRow("0") << "0" << 1;
    QTest::newRow("nothing") << "" << 1;
    QTest::newRow("abc") << "abc" << 1;
    QTest::newRow("250") << "250" << 100;
    QTest::newRow("2.5 halves to even") << "2.5" << 2;
    QTest::newRow("3.5 halves to even") << "3.5" << 4;
    QTest::newRow("leading number") << "12px" << 12;
    QTest::newRow("huge") << "1e300" << 100;
}

void TestMainWindow::portBoxClamping()
{
    QFETCH(QString, typed);
    QFETCH(int, port);
    TempProgramFolder folder;
    ScriptedSeams seams;
    MainWindow w;
    w.Form_Load({});
    w.files().txtCOMPORT->setText(QStringLiteral("77"));
    w.files().txtCOMPORT->clear();
    QTest::keyClicks(w.files().txtCOMPORT, typed);
    QCOMPARE(w.state().settings.ComPort, port);
}

void TestMainWindow::linkKindCheckBox()
{
    TempProgramFolder folder;
    writeFile(folder.file(QStringLiteral("QX-7alt.ini")), mainConfig({QString(), QStringLiteral("Com Port=150")}));
    ScriptedSeams seams;
    MainWindow w;
    w.Form_Load({});
    FilesPage &f = w.files();
    // 150 in the file: the box shows 100 and port 100 is tried (and fails here).
    QCOMPARE(f.txtCOMPORT->text(), QStringLiteral("100"));
    QCOMPARE(w.state().settings.ComPort, 100);
    QCOMPARE(seams.boxes.size(), 1);
    QTest::mouseClick(f.chkCOM, Qt::LeftButton, {}, QPoint(5, f.chkCOM->height() / 2));
    QVERIFY(f.chkCOM->isChecked());
    QCOMPARE(w.state().settings.ComPort, 0);
    QVERIFY(!f.txtCOMPORT->isEnabled() && !f.txtCOMSETTINGS->isEnabled() && f.txtTCPSETTINGS->isEnabled());
    QTest::mouseClick(f.chkCOM, Qt::LeftButton, {}, QPoint(5, f.chkCOM->height() / 2));
    // Coming back from TCP selects serial port 1.
    QCOMPARE(w.state().settings.ComPort, 1);
    QCOMPARE(f.txtCOMPORT->text(), QStringLiteral("1"));
    // The link is not reopened by the box: nothing more was shown.
    QCOMPARE(seams.boxes.size(), 1);
}

void TestMainWindow::restoreDefaultsKeepsPort()
{
    TempProgramFolder folder;
    writeFile(folder.file(QStringLiteral("QX-7alt.ini")),
              mainConfig({QString(), QStringLiteral("Com Port=5"), QStringLiteral("Com Port Settings=9600,e,7,2"),
                          QStringLiteral("TCP Settings=127.0.0.1:1")}));
    ScriptedSeams seams;
    MainWindow w;
    w.Form_Load({});
    w.files().cmdCOMDEFAULTS->click();
    QCOMPARE(w.state().settings.ComPortSettings, kDefaultComSettings);
    QCOMPARE(w.state().settings.TcpSettings, kDefaultTcpSettings);
    QCOMPARE(w.files().txtCOMSETTINGS->text(), kDefaultComSettings);
    QCOMPARE(w.state().settings.ComPort, 5);
}

void TestMainWindow::presetClicksSendRecall()
{
    TempProgramFolder folder;
    ScriptedSeams seams;
    qx7emu::Options o;
    o.silent = true; // no reply is awaited: the click returns at once
    qx7emu::Emulator emu(o);
    writeFile(folder.file(QStringLiteral("QX-7alt.ini")),
              mainConfig({QString(), QStringLiteral("Com Port=0"), QString(),
                          QStringLiteral("TCP Settings=127.0.0.1:%1").arg(emu.listenTcp())}));
    MainWindow w;
    w.Form_Load({});
    QTRY_VERIFY_WITH_TIMEOUT(w.link().tcpSocket().state() == QAbstractSocket::ConnectedState, 5000);
    w.ShowTab(1);
    QTest::mouseClick(w.cmdPRESET[7], Qt::LeftButton);
    QTest::mouseClick(w.cmdPRESET[16], Qt::LeftButton);
    QTest::mouseClick(w.cmdPRESET[16], Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(emu.received().size(), 3, 5000);
    const auto got = emu.received();
    QCOMPARE(got[0].raw, QByteArray("#PRST-RCL 7\r\n"));
    QCOMPARE(got[1].raw, QByteArray("#PRST-RCL 16\r\n"));
    QCOMPARE(got[2].raw, QByteArray("#PRST-RCL 16\r\n"));
}

void TestMainWindow::diagnosticLogColumn()
{
    TempProgramFolder folder;
    ScriptedSeams seams;
    qx7emu::Emulator emu;
    emu.openPty(folder.file(QStringLiteral("com1")));
    writeFile(folder.file(QStringLiteral("QX-7alt.ini")), mainConfig({QString()}, QStringLiteral("Log=1")));
    MainWindow w;
    const int designWidth = w.width();
    w.Form_Load({});
    QVERIFY(w.width() > designWidth);
    QVERIFY(!w.lstLOG->isHidden());
    w.chkLOGLIST->setChecked(true);
    w.exchange().SendCommand("# \r");
    w.exchange().WaitReply(QStringLiteral("~01@ OK"));
    QCOMPARE(w.lab2->text(), QStringLiteral("(sent 3) 23 20 0D "));
    QCOMPARE(w.lab3->text(), QStringLiteral("~01@ OK\r\n"));
    QCOMPARE(w.lstLOG->count(), 2);
    QCOMPARE(w.labN->text(), QStringLiteral("2"));
    QCOMPARE(w.files().labNN->text(), QStringLiteral("2"));
}

void TestMainWindow::nameEditingShowsAtOnce()
{
    TempProgramFolder folder;
    ScriptedSeams seams;
    MainWindow w;
    w.Form_Load({});
    FilesPage &f = w.files();
    QVERIFY(!f.txtEDITPRESETNAME->isEnabled());
    f.lstPRESETNAMES->setCurrentRow(17);
    QVERIFY(f.txtEDITPRESETNAME->isEnabled());
    QCOMPARE(f.txtEDITPRESETNAME->text(), QStringLiteral("Bank 2"));
    f.txtEDITPRESETNAME->selectAll();
    QTest::keyClicks(f.txtEDITPRESETNAME, QStringLiteral("<b>Logo</b>"));
    QCOMPARE(w.state().settings.BankName[2], QStringLiteral("<b>Logo</b>"));
    QCOMPARE(f.lstPRESETNAMES->item(17)->text(), QStringLiteral("bank2: <b>Logo</b>"));
    QCOMPARE(f.optBANK[1]->text(), QStringLiteral("<b>Logo</b>"));
    // A preset name shows in the list at once, on its button only after a restart.
    f.lstPRESETNAMES->setCurrentRow(4);
    f.txtEDITPRESETNAME->setText(QStringLiteral("Studio"));
    QCOMPARE(f.lstPRESETNAMES->item(4)->text(), QStringLiteral("preset5: Studio"));
    QCOMPARE(w.cmdPRESET[5]->text(), QStringLiteral("preset_5"));
    // Clearing an input name leaves the entry ending in its blank.
    f.lstINPUTNAMES->setCurrentRow(4);
    f.txtEDITINPUTNAME->clear();
    QCOMPARE(f.lstINPUTNAMES->item(4)->text(), QStringLiteral("input5: "));
}

void TestMainWindow::namesShowLiterally_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("tab");
    QTest::newRow("preset button") << "cmdPRESET" << 1 << 1;
    QTest::newRow("bank button of Files and Setup") << "optBANK" << 1 << 9;
    QTest::newRow("input button of window 2") << "optWIN1INP" << 20 << 2;
    QTest::newRow("bank button of the background") << "optWIN1INP" << 80 << 2;
    QTest::newRow("Enabled box of window 1") << "chkWINENABLE" << 0 << 2;
}

void TestMainWindow::namesShowLiterally()
{
    QFETCH(QString, control);
    QFETCH(int, index);
    QFETCH(int, tab);
    TempProgramFolder folder;
    ScriptedSeams seams;
    qx7emu::Emulator emu;
    WriteTcpConfig(folder.path(), emu.listenTcp());
    MainWindow w;
    w.Form_Load({});
    Settings &s = w.state().settings;
    for (QString *names : {s.LabelIn.data(), s.LabelWin.data(), s.PresetName.data(), s.BankName.data()})
        for (int n = 1; n <= 4; ++n)
            names[n] = QStringLiteral("&Start");
    w.files().SetUpNames();
    w.ShowTab(tab);
    if (tab == 2)
        w.switching().RefreshSwitchState();
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto *button = Control<QAbstractButton>(&w, control, index);
    QCOMPARE(button->text(), QStringLiteral("&&Start"));
    // Alt+S is no mnemonic of a name: a mnemonic would take the focus to its button (and click it).
    w.setFocus();
    QTest::keyClick(&w, Qt::Key_S, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), &w);
}

void TestMainWindow::lockedControlsStayLegible_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("role"); // the palette role the style draws the caption with
    QTest::newRow("option button") << "optWIN1INP" << 0 << int(QPalette::WindowText);
    QTest::newRow("check box") << "chkWINFULL" << 3 << int(QPalette::WindowText);
    QTest::newRow("push button") << "cmdLOAD" << -1 << int(QPalette::ButtonText);
    QTest::newRow("label on a dark tab panel") << "labSWITCH" << -1 << int(QPalette::WindowText);
}

void TestMainWindow::lockedControlsStayLegible()
{
    QFETCH(QString, control);
    QFETCH(int, index);
    QFETCH(int, role);
    TempProgramFolder folder;
    ScriptedSeams seams;
    MainWindow w;
    w.Form_Load({});
    w.switching().LockSwitchControls();
    w.setTabsEnabled(false); // as during a load; cmdLOAD is disabled without a picture
    QWidget *locked = Control<QWidget>(&w, control, index);
    QVERIFY(locked && !locked->isEnabled());
    QWidget *back = locked;
    while (!back->property("qxBackColor").isValid())
        back = back->parentWidget();
    const auto luminance = [](const QColor &c) {
        const auto lin = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF()) + 0.05;
    };
    const double text = luminance(locked->palette().color(QPalette::Disabled, QPalette::ColorRole(role)));
    const double ratio = std::max(text, luminance(BackColor(back))) / std::min(text, luminance(BackColor(back)));
    QVERIFY2(ratio >= 3, qPrintable(QString::number(ratio)));
}

void TestMainWindow::tabClicks_data()
{
    QTest::addColumn<QString>("press");   // where the button goes down
    QTest::addColumn<QString>("release"); // where it comes up
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("effect");
    const int left = Qt::LeftButton;
    QTest::newRow("left click on the panel") << "btnSWITCH" << "btnSWITCH" << left << "read-back";
    QTest::newRow("label to panel") << "labSWITCH" << "btnSWITCH" << left << "read-back";
    QTest::newRow("panel to label") << "btnSWITCH" << "labSWITCH" << left << "read-back";
    QTest::newRow("right click") << "labSWITCH" << "labSWITCH" << int(Qt::RightButton) << "";
    QTest::newRow("released on another tab") << "labSWITCH" << "btnPRESETS" << left << "";
    QTest::newRow("About, left click") << "labABOUT" << "pictABOUT" << left << "about";
    QTest::newRow("About, right click") << "pictABOUT" << "pictABOUT" << int(Qt::RightButton) << "";
}

void TestMainWindow::tabClicks()
{
    QFETCH(QString, press);
    QFETCH(QString, release);
    QFETCH(int, button);
    QFETCH(QString, effect);
    TempProgramFolder folder;
    ScriptedSeams seams;
    qx7emu::Emulator emu;
    WriteTcpConfig(folder.path(), emu.listenTcp());
    MainWindow w;
    w.Form_Load({});
    QTRY_VERIFY_WITH_TIMEOUT(w.link().tcpSocket().state() == QAbstractSocket::ConnectedState, 5000);
    auto *down = Control<QWidget>(&w, press), *up = Control<QWidget>(&w, release);
    // The release reaches the widget that took the press, at the pointer's place.
    QTest::mousePress(down, Qt::MouseButton(button));
    QTest::mouseRelease(down, Qt::MouseButton(button), {}, down->mapFromGlobal(up->mapToGlobal(up->rect().center())));
    QCOMPARE(!emu.received().isEmpty(), effect == "read-back");
    QCOMPARE(!seams.modals.isEmpty(), effect == "about");
}

void TestMainWindow::shutdownSavesPosition()
{
    TempProgramFolder folder;
    ScriptedSeams seams;
    {
        MainWindow w;
        w.Form_Load({});
        w.move(40, 30);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.close();
    }
    QFile startup(folder.file(QStringLiteral("startup.ini")));
    QVERIFY(startup.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = startup.readAll().split('\n');
    QCOMPARE(lines.value(0), QByteArray(";QX-7alt v1.0.7 startup configuration file\r"));
    QVERIFY(lines.value(2).startsWith("MainX= "));
    QVERIFY(QFile::exists(folder.file(QStringLiteral("QX-7alt.ini"))));
    MainWindow again;
    again.Form_Load({});
    QCOMPARE(again.state().settings.MainX, int(QByteArray(lines.value(2).mid(6)).trimmed().toInt()));
}

// Twips to pixels at start-up, pixels to twips at shutdown: after the first
// round the stored position stays the same at every start, on both sides of 0.
void TestMainWindow::positionSurvivesRestarts_data()
{
    QTest::addColumn<int>("twips");
    QTest::addColumn<int>("pixels");
    const std::pair<int, int> rows[] = {{-1000, -67}, {-45, -3}, {-8, -1}, {-7, 0}, {0, 0}, {7, 0}, {8, 1}, {1200, 80}};
    for (const auto &[twips, pixels] : rows)
        QTest::addRow("%d twips", twips) << twips << pixels;
}

void TestMainWindow::positionSurvivesRestarts()
{
    QFETCH(int, twips);
    QFETCH(int, pixels);
    QCOMPARE(tw(twips), pixels);
    QCOMPARE(tw(PixelsToTwips(pixels)), pixels);
}

void TestMainWindow::commandWithFailedLinkIsNotSent()
{
    TempProgramFolder folder;
    ScriptedSeams seams;
    MainWindow w;
    w.Form_Load({QStringLiteral("/c:#Y 0,204,1")});
    // Only the link failure message; the command waits for nothing and is not sent.
    QCOMPARE(seams.boxes.size(), 1);
    QCOMPARE(seams.boxes[0].first, QStringLiteral("Com port open failure"));
    QCOMPARE(w.log().messageCount(), 0);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
