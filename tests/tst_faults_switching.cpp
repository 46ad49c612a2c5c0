// The Switching tab against a device that answers nothing. The operator clicks a source button: the wait
// window shows while the commands go out, the tab stays locked until the read-back half a second later, and
// then shows the time-out state (every read 0) although the device did switch. Nothing hangs, and the log
// holds a "TIMEOUT ERROR" line for every wait. How a wait treats late, foreign, broken or endless replies is
// decided and tested in the exchange.

#include "windowrig.h"

#include <QAbstractButton>
#include <QTest>

using namespace qx;
using namespace qxtest;

class TestFaultsSwitching : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sourceClickOnSilentDevice()
    {
        qx7emu::Options o;
        o.silent = true;
        WindowRig rig(o);
        qx7emu::DeviceState s; // window 2 enabled on bank 2
        s.windows[1] = {true, 7, 2};
        rig.emu.setState(s);
        MainWindow &w = rig.start();
        QVERIFY(rig.connected());
        w.exchange().setPollMs(0); // polls keep their number but not their time
        w.ShowTab(2);
        bool waitShownWhileSending = false;
        connect(&w.log(), &CommLog::sentChanged, this, [&] { waitShownWhileSending = w.waitWindow().isVisible(); });
        rig.control<QAbstractButton>("optWIN1INP", 23)->click(); // input 4 into window 2
        QVERIFY(waitShownWhileSending && rig.switching().endsWith(" usable 0"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.switchingIdle(), 60000);
        QCOMPARE(rig.switching(), QStringLiteral("enabled 0000 full 0000 selected 0,20,40,60,84"));
        // Both command waits, then the 14 of the read-back (sync, 4 enables, 8 sources, background).
        QCOMPARE(rig.timeouts, 2 + 14);
        QVERIFY(rig.seams.boxes.isEmpty());
        QCOMPARE(rig.emu.commands().mid(0, 3), (QStringList{"#Y 0,300,3,1", "#Y 0,337,0,1", "# "}));
        QCOMPARE(rig.emu.state().windows[1].input, 3); // the device obeyed
        QCOMPARE(rig.emu.state().windows[1].bank, 0);
    }
};

QTEST_MAIN(TestFaultsSwitching)
#include "tst_faults_switching.moc"
