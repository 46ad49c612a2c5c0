// The link comes back by itself: the device closes the connection, is
// switched off, is not there at start, or its serial device goes away; the
// indicator tells, a background retry reconnects, and the next click reaches
// the device, all without a message box.

#include "windowrig.h"

#include <QLabel>
#include <QRegularExpression>
#include <QTest>

using namespace qx;
using namespace qxtest;

class TestReconnect : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void linkComesBack_data();
    void linkComesBack();
    void unansweredWaitShows();
};

enum class Loss { DeviceCloses, SwitchedOff, OffAtStart, Unplugged };

void TestReconnect::linkComesBack_data()
{
    QTest::addColumn<Loss>("loss");
    QTest::addColumn<QString>("down");     // the indicator while the link is down
    QTest::addColumn<QString>("outcome");  // the log's line of the retry that worked
    QTest::newRow("device closes the connection") << Loss::DeviceCloses << "Lost" << "(reconnect) connected";
    QTest::newRow("device switched off") << Loss::SwitchedOff << "Lost" << "(reconnect) connected";
    QTest::newRow("device off at start") << Loss::OffAtStart << "No connection" << "(reconnect) connected";
    QTest::newRow("serial device unplugged") << Loss::Unplugged << "Serial port 1 not available"
                                             << "(reconnect) open";
}

void TestReconnect::linkComesBack()
{
    QFETCH(Loss, loss);
    QFETCH(QString, down);
    QFETCH(QString, outcome);
    qx7emu::Options o;
    o.dropAfterCommands = loss == Loss::DeviceCloses ? 1 : 0;
    WindowRig rig(o, loss == Loss::Unplugged ? WindowRig::Link::Serial : WindowRig::Link::Tcp);
    const quint16 port = rig.emu.tcpPort();
    if (loss == Loss::OffAtStart)
        rig.emu.stopTcp();
    MainWindow &w = rig.start();
    w.linkMonitor().setRetryBase(20);
    auto *indicator = rig.control<QLabel>("labLINK");
    QVERIFY(indicator);
    QStringList shown; // every text the indicator took
    connect(&w.linkMonitor(), &LinkMonitor::changed, this, [&] { shown << indicator->text(); });
    const QString connected =
        "Connected \u00B7 " + (loss == Loss::Unplugged ? QString("com1") : "127.0.0.1:" + QString::number(port));
    if (loss != Loss::OffAtStart)
        QTRY_COMPARE(indicator->text(), connected);

    w.ShowTab(TabPresets);
    switch (loss) {
    case Loss::DeviceCloses: rig.click("cmdPRESET", 1); break;
    case Loss::SwitchedOff: rig.emu.stopTcp(); break;
    case Loss::Unplugged: rig.emu.closePty(); break;
    case Loss::OffAtStart: break;
    }
    QTRY_VERIFY(!shown.filter(QRegularExpression("^" + down + " \u00B7 retrying in \\d+ s$")).isEmpty());
    if (loss == Loss::SwitchedOff || loss == Loss::OffAtStart)
        QCOMPARE(rig.emu.listenTcp(port), port);
    else if (loss == Loss::Unplugged)
        QVERIFY(!rig.emu.openPty(rig.folder.file("com1")).isEmpty());
    QTRY_COMPARE(indicator->text(), connected);
    QCOMPARE(w.log().lastReceived(), outcome);
    QVERIFY(!w.state().LinkFailed);

    rig.emu.clearReceived();
    rig.click("cmdPRESET", 5);
    QTRY_COMPARE(rig.emu.commands(), QStringList{"#PRST-RCL 5"});
    QVERIFY(rig.seams.boxes.isEmpty()); // retries are silent
}

void TestReconnect::unansweredWaitShows()
{
    // A wait that goes unanswered on a live link turns the indicator to
    // "Not answering"; the next line from the device turns it back.
    qx7emu::Options o;
    o.silent = true;
    WindowRig rig(o);
    MainWindow &w = rig.start();
    QVERIFY(rig.connected());
    w.exchange().setPollMs(0);
    w.exchange().SendCommand("#VERSION?\r");
    w.exchange().WaitReply("~01@VERSION ");
    auto *indicator = rig.control<QLabel>("labLINK");
    QCOMPARE(indicator->text(), QString("Not answering"));
    rig.emu.setOptions({});
    w.exchange().SendCommand("#VERSION?\r");
    w.exchange().WaitReply("~01@VERSION ");
    QVERIFY(indicator->text().startsWith("Connected"));
    QVERIFY(indicator->toolTip().contains("Last reply: ") && !indicator->toolTip().contains("none yet"));
}

QTEST_MAIN(TestReconnect)
#include "tst_reconnect.moc"
