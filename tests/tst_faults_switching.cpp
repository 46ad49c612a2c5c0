// The Switching tab against a device that misbehaves: the read-back and a
// switching click, each under one fault of the emulator. What the operator
// sees is the tab after the read-back (ticked boxes, selected and marked
// source buttons, whether the tab is usable again); what is recorded is the
// "TIMEOUT ERROR" lines of the communication log. Every case ends with the tab
// unlocked, SwitchBusy clear and the wait window hidden: nothing hangs.

#include "app/mainwindow.h"
#include "app/switchingpage.h"
#include "app/waitwindow.h"
#include "app/widgets.h"
#include "emulator.h"
#include "linkrig.h"

#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QTest>

using namespace qx;
using namespace qxtest;
Q_DECLARE_METATYPE(qx7emu::Options)

namespace {

// The whole application in this process, started from a program folder whose
// settings point it at the emulator on 127.0.0.1.
struct App {
    TempProgramFolder folder;
    ScriptedSeams seams;
    qx7emu::Emulator emu;
    MainWindow w;
    int timeouts = 0;

    explicit App(const qx7emu::Options &options) : emu(options)
    {
        WriteTcpConfig(folder.path(), emu.listenTcp());
        w.Form_Load({});
        w.log().setShowLog(true);
        QObject::connect(&w.log(), &CommLog::receivedChanged,
                         [this](const QString &text) { timeouts += text == QLatin1String("TIMEOUT ERROR"); });
        w.show();
    }
    bool connected()
    {
        return QTest::qWaitFor([this] { return w.link().tcpSocket().state() == QAbstractSocket::ConnectedState; },
                               5000);
    }
    // The operator's click on the Switching tab: captions, then the read-back.
    void openSwitchingTab() { QTest::mouseClick(w.labSWITCH, Qt::LeftButton); }
    bool idle()
    {
        SwitchingPage &p = w.switching();
        return !p.SwitchBusy && !p.Timer_switch.isActive() && !w.waitWindow().isVisible() && usableControls() == 93;
    }
    // Enabled buttons and boxes of the tab: 85 sources and 2 x 4 boxes when usable.
    int usableControls()
    {
        SwitchingPage &p = w.switching();
        int n = 0;
        for (QRadioButton *b : p.optWIN1INP)
            n += b->isEnabled();
        for (int i = 0; i < 4; ++i)
            n += p.chkWINENABLE[size_t(i)]->isEnabled() + p.chkWINFULL[size_t(i)]->isEnabled();
        return n;
    }
    // The tab as the operator reads it: the ticked boxes of windows 1..4, the
    // selected button of each frame, and the buttons marked in MarkBackColor.
    QString shown()
    {
        SwitchingPage &p = w.switching();
        QString enabled, full;
        for (int i = 0; i < 4; ++i) {
            enabled += QString::number(SwitchingPage::CheckValue(p.chkWINENABLE[size_t(i)]));
            full += QString::number(SwitchingPage::CheckValue(p.chkWINFULL[size_t(i)]));
        }
        QStringList selected, marked;
        for (int i = 0; i < 85; ++i) {
            if (p.optWIN1INP[size_t(i)]->isChecked())
                selected << QString::number(i);
            if (BackColor(p.optWIN1INP[size_t(i)]) == w.MarkBackColor)
                marked << QString::number(i);
        }
        return QStringLiteral("enabled %1 full %2 selected %3 marked %4")
            .arg(enabled, full, selected.join(QLatin1Char(',')), marked.join(QLatin1Char(',')));
    }
};

// Windows 1 and 2 enabled with full screen on, window 2 and 4 on banks, the background on bank 3.
qx7emu::DeviceState deviceState()
{
    qx7emu::DeviceState s;
    s.windows[0] = {true, 3, 0};
    s.windows[1] = {true, 7, 2};
    s.windows[2] = {false, 12, 0};
    s.windows[3] = {false, 15, 4};
    s.backgroundBank = 3;
    s.fullScreen = 1;
    return s;
}

// deviceState() on the tab: buttons 3, 20+15+2, 40+12, 60+15+4 and 79+3.
const QString kDeviceShown = QStringLiteral("enabled 1100 full 1100 selected 3,37,52,79,82 marked 3,37,52,79,82");
// Every read timed out and read as 0: windows off, input 1 everywhere, background live.
const QString kTimeoutShown = QStringLiteral("enabled 0000 full 0000 selected 0,20,40,60,84 marked 0,20,40,60,84");

qx7emu::Options faults(const QString &name)
{
    qx7emu::Options o;
    if (name == QLatin1String("silent"))
        o.silent = true;
    else if (name == QLatin1String("late"))
        o.replyDelayMs = 500;
    else if (name == QLatin1String("noise19"))
        o.noise = 19;
    else if (name == QLatin1String("noise20"))
        o.noise = 20;
    else if (name == QLatin1String("fragment"))
        o.fragment = true;
    else if (name == QLatin1String("garbage"))
        o.garbage = 64;
    else if (name == QLatin1String("stream"))
        o.streamNoEol = true;
    return o;
}

} // namespace

class TestFaultsSwitching : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readBack_data();
    void readBack();
    void sourceClick_data();
    void sourceClick();
    void enableClickOnSilentDevice();
};

void TestFaultsSwitching::readBack_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("pollMs"); // poll length of the exchange's waits
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("timeouts");
    // A silent device costs 14 full waits (sync, 4 enables, 8 sources, background);
    // polls of 0 ms keep their number but not their time.
    QTest::newRow("silent device") << "silent" << 0 << kTimeoutShown << 14;
    // 16 exchanges of 0.5 s each, every one well inside 8,000 polls of at least 1 ms.
    QTest::newRow("every reply 0.5 s late") << "late" << 1 << kDeviceShown << 0;
    QTest::newRow("19 foreign lines before every reply") << "noise19" << 2 << kDeviceShown << 0;
    // A wait examines 20 lines, so each reply is missed by its own wait and
    // left for the next one. Where the next wait has the same prefix it takes
    // the stale reply: windows 2 and 3 show the enable state of the window
    // before them. The reply carries the window number, but it is not checked.
    QTest::newRow("20 foreign lines before every reply")
        << "noise20" << 2 << QStringLiteral("enabled 0110 full 0000 selected 0,20,40,60,84 marked 0,20,40,60,84") << 13;
    QTest::newRow("replies in pieces of 3 bytes") << "fragment" << 2 << kDeviceShown << 0;
    QTest::newRow("64 bytes of binary junk before every reply") << "garbage" << 2 << kDeviceShown << 0;
    // The sync is answered, then text without any line end: the other 13 waits time out.
    QTest::newRow("text without line ends after the first reply") << "stream" << 0 << kTimeoutShown << 13;
}

void TestFaultsSwitching::readBack()
{
    QFETCH(QString, fault);
    QFETCH(int, pollMs);
    QFETCH(QString, shown);
    QFETCH(int, timeouts);
    App app(faults(fault));
    app.emu.setState(deviceState());
    QVERIFY(app.connected());
    app.w.exchange().setPollMs(pollMs);

    app.openSwitchingTab();

    QVERIFY(!app.w.frameSWITCH->isHidden());
    QCOMPARE(app.shown(), shown);
    QCOMPARE(app.timeouts, timeouts);
    // The read-back asks, it never changes the device; no box interrupts the operator.
    QVERIFY(app.seams.boxes.isEmpty());
    QVERIFY(app.idle());
    const QStringList commands = app.emu.commands();
    QCOMPARE(commands.value(0), QStringLiteral("# "));
    QVERIFY(!commands.join(QLatin1Char('|')).contains(QLatin1String("#Y 0,")));
}

void TestFaultsSwitching::sourceClick_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("pollMs");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("timeouts");
    // Button 23: input 4 into window 2. The device obeys in every case.
    const QString switched = QStringLiteral("enabled 1100 full 1100 selected 3,23,52,79,82 marked 3,23,52,79,82");
    // Both command waits time out, then the 14 waits of the read-back: the
    // tab shows the time-out state, not what the device did.
    QTest::newRow("silent device") << "silent" << 0 << kTimeoutShown << 16;
    QTest::newRow("every reply 0.5 s late") << "late" << 1 << switched << 0;
    QTest::newRow("19 foreign lines before every reply") << "noise19" << 2 << switched << 0;
    QTest::newRow("replies in pieces of 3 bytes") << "fragment" << 2 << switched << 0;
    QTest::newRow("64 bytes of binary junk before every reply") << "garbage" << 2 << switched << 0;
}

void TestFaultsSwitching::sourceClick()
{
    QFETCH(QString, fault);
    QFETCH(int, pollMs);
    QFETCH(QString, shown);
    QFETCH(int, timeouts);
    App app(faults(fault));
    app.emu.setState(deviceState());
    QVERIFY(app.connected());
    app.w.exchange().setPollMs(pollMs);
    app.openSwitchingTab();
    app.timeouts = 0;
    app.emu.clearReceived();

    // The wait window is up while the commands go out.
    bool waitShownWhileSending = false;
    const auto probe = QObject::connect(&app.w.log(), &CommLog::sentChanged,
                                        [&] { waitShownWhileSending = app.w.waitWindow().isVisible(); });
    app.w.switching().optWIN1INP[23]->click();
    QObject::disconnect(probe);
    QVERIFY(waitShownWhileSending);
    QVERIFY(!app.w.waitWindow().isVisible());
    QCOMPARE(app.usableControls(), 0); // locked until the read-back half a second later
    QVERIFY(app.w.switching().Timer_switch.isActive());

    QTRY_VERIFY_WITH_TIMEOUT(app.idle(), 60000);
    QCOMPARE(app.shown(), shown);
    QCOMPARE(app.timeouts, timeouts);
    QVERIFY(app.seams.boxes.isEmpty());
    QCOMPARE(app.emu.commands().mid(0, 3),
             (QStringList{QStringLiteral("#Y 0,300,3,1"), QStringLiteral("#Y 0,337,0,1"), QStringLiteral("# ")}));
    QCOMPARE(app.emu.state().windows[1].input, 3);
    QCOMPARE(app.emu.state().windows[1].bank, 0);
}

void TestFaultsSwitching::enableClickOnSilentDevice()
{
    // The operator ticks "Enabled" of window 3 on a device that answers
    // nothing: the command goes out, its wait times out, and the read-back
    // half a second later shows the box clear again, because the silent
    // device's state cannot be read. The tab is usable again afterwards.
    qx7emu::Options o;
    o.silent = true;
    App app(o);
    QVERIFY(app.connected());
    app.w.exchange().setPollMs(0);
    app.openSwitchingTab();
    app.emu.clearReceived();
    app.timeouts = 0;

    QTest::mouseClick(app.w.switching().chkWINENABLE[2], Qt::LeftButton, {},
                      QPoint(4, app.w.switching().chkWINENABLE[2]->height() / 2));
    QTRY_VERIFY_WITH_TIMEOUT(app.idle(), 60000);
    QCOMPARE(app.emu.commands().value(0), QStringLiteral("#Y 0,302,1,2"));
    QVERIFY(app.emu.state().windows[2].enabled); // the device did obey
    QCOMPARE(app.shown(), kTimeoutShown);
    QCOMPARE(app.timeouts, 1 + 14);
}

QTEST_MAIN(TestFaultsSwitching)
#include "tst_faults_switching.moc"
