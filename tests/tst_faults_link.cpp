// The link and the command exchange against a device that misbehaves on the
// line itself: replies inside and outside the wait budget, foreign lines,
// binary junk, replies in pieces, and text that never ends its line. Seen by
// the operator through a bank load (its first step is the version query),
// the preset buttons and the Switching tab; recorded in the bank's record
// (BankFileLoaded, txtLOADED) and in the communication log.

#include "app/filespage.h"
#include "app/mainwindow.h"
#include "app/switchingpage.h"
#include "banks/imageroutines.h"
#include "emulator.h"
#include "linkrig.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>

using namespace qx;
using namespace qxtest;
using Boxes = QList<QPair<QString, QString>>;

namespace {

// The whole application in this process, started from a program folder whose
// settings point it at the emulator on 127.0.0.1.
struct App {
    TempProgramFolder folder;
    ScriptedSeams seams;
    qx7emu::Emulator emu;
    MainWindow w;
    int timeouts = 0;
    qint64 dropped = 0; // bytes the exchange reported as dropped
    qint64 peakRx = 0;  // largest receive state seen after a data arrival

    explicit App(const qx7emu::Options &options) : emu(options)
    {
        WriteTcpConfig(folder.path(), emu.listenTcp());
        w.Form_Load({});
        w.log().setShowLog(true);
        QObject::connect(&w.log(), &CommLog::receivedChanged, [this](const QString &text) {
            static const QRegularExpression overflow(QStringLiteral("^RECEIVE OVERFLOW\\D*(\\d+)"));
            timeouts += text == QLatin1String("TIMEOUT ERROR");
            const QRegularExpressionMatch m = overflow.match(text);
            if (m.hasMatch())
                dropped += m.captured(1).toLongLong();
        });
        // Runs after the exchange's own handler of the same arrival.
        QObject::connect(&w.link(), &DeviceLink::socketDataArrived, [this] {
            peakRx = qMax<qint64>(peakRx, w.exchange().rxBufferSize() + w.exchange().TcpRxBuffer.size());
        });
        w.show();
    }
    bool connected()
    {
        return QTest::qWaitFor([this] { return w.link().tcpSocket().state() == QAbstractSocket::ConnectedState; },
                               5000);
    }
    // A small picture in the program folder, previewed and ready to load into bank 2.
    QString preparePicture()
    {
        QImage img(4, 2, QImage::Format_RGB32);
        img.fill(qRgb(200, 40, 90));
        img.save(folder.file(QStringLiteral("small.bmp")));
        FilesPage &f = w.files();
        f.ListImageFiles();
        f.lstFILES->setCurrentRow(0);
        f.optBANK[1]->setChecked(true);
        return QStringLiteral("small.bmp");
    }
    // The load as the operator starts it; returns when the job is over.
    void load() { QTest::mouseClick(w.files().cmdLOAD, Qt::LeftButton); }
    // The job has given the window back.
    bool restored()
    {
        FilesPage &f = w.files();
        return !f.LoadRunning && f.cmdLOAD->text() == QLatin1String("Load image to selected bank") &&
               f.cmdDIR->isEnabled() && f.cmdRECONNECT->isEnabled() && w.btnSWITCH->isEnabled() &&
               f.boxFRAMING->isHidden();
    }
};

Boxes boxes(const MessageTable &msg, int text, int title)
{
    return text ? Boxes{{msg(23), msg(15)}, {msg(text), msg(title)}} : Boxes{{msg(23), msg(15)}};
}

} // namespace

class TestFaultsLink : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void waitBudget_data();
    void waitBudget();
    void foreignLines_data();
    void foreignLines();
    void textWithoutLineEnd_data();
    void textWithoutLineEnd();
};

void TestFaultsLink::waitBudget_data()
{
    // Polls of 1 ms: a wait for a line that never comes lasts 8,000 polls, so
    // at least 8 s. Replies due within 8 s are inside the budget however slow
    // the machine is; a reply due at 30 s is outside it on any machine that
    // takes less than 3.75 ms per 1 ms poll.
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<bool>("loaded");
    QTest::newRow("every reply 0.5 s late: inside") << 500 << true;
    QTest::newRow("every reply 6 s late: inside") << 6000 << true;
    QTest::newRow("every reply 30 s late: outside") << 30000 << false;
}

void TestFaultsLink::waitBudget()
{
    QFETCH(int, delayMs);
    QFETCH(bool, loaded);
    qx7emu::Options o;
    o.replyDelayMs = delayMs;
    App app(o);
    QVERIFY(app.connected());
    app.w.exchange().setPollMs(1);
    const QString name = app.preparePicture();

    app.load();

    // Loaded: no message, the bank holds the picture and the record names it.
    // Outside: "No reply from the QX-7" after the version query's wait, the
    // record is emptied and nothing but the query reached the device.
    const MessageTable &msg = app.w.state().msg;
    QCOMPARE(app.seams.boxes, loaded ? boxes(msg, 0, 0) : boxes(msg, 22, 4));
    QCOMPARE(app.w.files().txtLOADED[1]->text(), loaded ? name : QString());
    QCOMPARE(app.w.state().settings.BankFileLoaded[2], loaded ? name : QString());
    QCOMPARE(app.timeouts, loaded ? 0 : 1);
    QVERIFY(app.restored());
    if (loaded) {
        QTRY_VERIFY_WITH_TIMEOUT(app.emu.bank(1).complete, 10000);
        QCOMPARE(app.emu.bank(1).width, 4);
    } else {
        QCOMPARE(app.emu.commands(), QStringList{QStringLiteral("#VERSION?")});
        QCOMPARE(int(app.w.files().lastOutcome()), int(FilesPage::LoadOutcome::LinkFailed));
    }
}

void TestFaultsLink::foreignLines_data()
{
    QTest::addColumn<int>("noise");   // unsolicited lines before every reply
    QTest::addColumn<int>("garbage"); // bytes of binary junk before every reply
    QTest::addColumn<bool>("fragment");
    QTest::addColumn<bool>("loaded");
    // A wait examines 20 lines: 19 foreign ones and the reply fit, 20 do not.
    QTest::newRow("19 foreign lines") << 19 << 0 << false << true;
    QTest::newRow("20 foreign lines: the version is missed") << 20 << 0 << false << false;
    // Junk with NUL, FF, LF and CR in it makes a few unreadable lines, skipped like foreign ones.
    QTest::newRow("64 bytes of junk") << 0 << 64 << false << true;
    // 4 KiB of junk cut at its line ends is more than 20 lines.
    QTest::newRow("4 KiB of junk: the version is missed") << 0 << 4096 << false << false;
    QTest::newRow("replies in pieces of 3 bytes") << 0 << 0 << true << true;
    QTest::newRow("junk, foreign lines and pieces together") << 10 << 64 << true << true;
}

void TestFaultsLink::foreignLines()
{
    QFETCH(int, noise);
    QFETCH(int, garbage);
    QFETCH(bool, fragment);
    QFETCH(bool, loaded);
    qx7emu::Options o;
    o.noise = noise;
    o.garbage = garbage;
    o.fragment = fragment;
    App app(o);
    QVERIFY(app.connected());
    const QString name = app.preparePicture();

    app.load();

    const MessageTable &msg = app.w.state().msg;
    QCOMPARE(app.seams.boxes, loaded ? boxes(msg, 0, 0) : boxes(msg, 22, 4));
    QCOMPARE(app.w.files().txtLOADED[1]->text(), loaded ? name : QString());
    QCOMPARE(app.w.state().settings.BankFileLoaded[2], loaded ? name : QString());
    QVERIFY(app.restored());
    if (loaded) {
        QTRY_VERIFY_WITH_TIMEOUT(app.emu.bank(1).complete, 10000);
    } else {
        QCOMPARE(app.emu.commands(), QStringList{QStringLiteral("#VERSION?")});
        QVERIFY(!app.emu.bank(1).complete);
    }
}

void TestFaultsLink::textWithoutLineEnd_data()
{
    QTest::addColumn<bool>("whileWaiting");
    // The preset's reply is cut out and then waits for a WaitReply that never
    // comes; the text behind it must still be bounded.
    QTest::newRow("idle, after a preset recall") << false;
    QTest::newRow("while a switching command waits") << true;
}

void TestFaultsLink::textWithoutLineEnd()
{
    QFETCH(bool, whileWaiting);
    qx7emu::Options o;
    o.streamNoEol = true; // answers the first command, then 64 KiB per 10 ms without a line end
    App app(o);
    QVERIFY(app.connected());
    constexpr qint64 kEnough = 8 << 20; // far more than the limit, so unbounded growth would show

    if (!whileWaiting) {
        QTest::mouseClick(app.w.cmdPRESET[1], Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(app.dropped >= kEnough, 30000);
    } else {
        // The second command's wait sees only the endless text: 8,000 polls of
        // 1 ms, time for far more than the limit to arrive.
        app.w.exchange().setPollMs(1);
        app.w.ShowTab(2);
        app.w.switching().optWIN1INP[23]->click();
        QCOMPARE(app.timeouts, 1);
        QVERIFY(app.dropped >= kEnough);
        // The read-back half a second later reads nothing but zeros.
        app.w.exchange().setPollMs(0);
        QTRY_VERIFY_WITH_TIMEOUT(!app.w.switching().SwitchBusy && !app.w.switching().Timer_switch.isActive(), 60000);
        QCOMPARE(app.w.switching().chkWINENABLE[0]->isChecked(), false);
        QVERIFY(app.w.switching().optWIN1INP[84]->isChecked());
    }
    // Memory stays bounded: the receive state never held much more than the
    // limit, and the log said what was dropped. No message box.
    QVERIFY2(app.peakRx <= CommandExchange::kRxLimit + 4096, qPrintable(QString::number(app.peakRx)));
    QVERIFY(app.seams.boxes.isEmpty());

    // The operator reconnects: the new connection gets normal replies again.
    o.streamNoEol = false;
    app.emu.setOptions(o);
    qx7emu::DeviceState s;
    s.windows[2] = {true, 9, 0};
    app.emu.setState(s);
    app.w.exchange().setPollMs(CommandExchange::kPollMs);
    QTest::mouseClick(app.w.files().cmdRECONNECT, Qt::LeftButton);
    QVERIFY(!app.w.state().LinkFailed);
    app.timeouts = 0;
    // Closing the old connection must not leave the new one counted as lost
    // (every wait would then end after one poll).
    QVERIFY(!app.w.link().linkLost());
    QTest::mouseClick(app.w.labSWITCH, Qt::LeftButton);
    QCOMPARE(app.timeouts, 0);
    QVERIFY(app.w.switching().chkWINENABLE[2]->isChecked());
    QVERIFY(app.w.switching().optWIN1INP[49]->isChecked());
    QTRY_COMPARE_WITH_TIMEOUT(app.emu.connections(), 2, 5000);
}

QTEST_MAIN(TestFaultsLink)
#include "tst_faults_link.moc"
