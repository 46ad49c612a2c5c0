// The Switching tab against a device that answers nothing: after a source click the wait window shows, the tab
// stays locked until the read-back, then shows the time-out state (every read 0) although the device switched;
// or the operator cancels the waits. Nothing hangs; every wait logs "TIMEOUT ERROR". Replies: tst_link.

#include "windowrig.h"

#include <QAbstractButton>
#include <QTest>
#include <QTimer>

using namespace qx;
using namespace qxtest;

class TestFaultsSwitching : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sourceClickOnSilentDevice_data()
    {
        QTest::addColumn<bool>("cancel"); // the operator presses Cancel in the wait window
        QTest::newRow("waits run out") << false;
        QTest::newRow("Cancel in the wait window") << true;
    }
    void sourceClickOnSilentDevice()
    {
        QFETCH(bool, cancel);
        qx7emu::Options o;
        o.silent = true;
        WindowRig rig(o);
        qx7emu::DeviceState s; // window 2 enabled on bank 2
        s.windows[1] = {true, 7, 2};
        rig.emu.setState(s);
        MainWindow &w = rig.start();
        QVERIFY(rig.connected());
        w.move(300, 200);
        w.ShowTab(2);
        if (!cancel)
            w.exchange().setPollMs(0); // polls keep their number but not their time
        bool waitShownWhileSending = false;
        connect(&w.log(), &CommLog::sentChanged, this, [&] { waitShownWhileSending = w.waitWindow().isVisible(); });
        QPoint centre;
        if (cancel)
            QTimer::singleShot(50, &w.waitWindow(), [&] {
                centre = w.waitWindow().isVisible() ? w.waitWindow().frameGeometry().center() : QPoint();
                rig.click("cmdCANCEL");
            });
        rig.control<QAbstractButton>("optWIN1INP", 23)->click(); // input 4 into window 2
        // Both commands went out and both waits ended; Cancel ends the sequence in the first wait.
        const int sent = cancel ? 1 : 2;
        QVERIFY(waitShownWhileSending && rig.switching().endsWith(" usable 0") && rig.timeouts == sent);
        QVERIFY(rig.emu.waitForCommands(sent, 5000) && rig.seams.boxes.isEmpty());
        QCOMPARE(rig.emu.commands().mid(0, 2), QStringList({"#Y 0,300,3,1", "#Y 0,337,0,1"}).mid(0, sent));
        if (cancel) {
            QVERIFY(w.exchange().StopRequested && !w.waitWindow().isVisible());
            // The wait window opened over the middle of its window, not at the screen's corner.
            QVERIFY((centre - w.frameGeometry().center()).manhattanLength() < 8);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(rig.switchingIdle(), 60000);
        QCOMPARE(rig.switching(), QStringLiteral("enabled 0000 full 0000 selected 0,20,40,60,84"));
        // Then the 14 waits of the read-back (sync, 4 enables, 8 sources, background).
        QCOMPARE(rig.timeouts, 2 + 14);
        QCOMPARE(rig.emu.commands().value(2), QStringLiteral("# "));
    }
};

QTEST_MAIN(TestFaultsSwitching)
#include "tst_faults_switching.moc"
