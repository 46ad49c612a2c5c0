// A bank load that the device refuses or cuts off: the message boxes, the window given back, the bank's record
// and what the device stored. After a lost connection the Switching tab shows the time-out state at once, and
// Reconnect brings everything back. Each fault of the upload itself is tested in the upload.

#include "windowrig.h"

#include <QAbstractButton>
#include <QListWidget>
#include <QTest>

using namespace qx;
using namespace qxtest;
using Boxes = QList<QPair<QString, QString>>;
using Ints = QList<int>;

class TestFaultsUpload : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void loadUnderFault_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<Ints>("outcome"); // the message and title shown after the start confirmation; packets sent
        QTest::newRow("old firmware 2.11") << "old" << Ints{16, 17, 0};
        QTest::newRow("connection closed after 10 packets, then Reconnect") << "disconnect" << Ints{22, 4, 10};
    }
    void loadUnderFault()
    {
        QFETCH(QString, fault);
        QFETCH(Ints, outcome);
        qx7emu::Options o;
        if (fault == "old")
            o.version = QStringLiteral("2.11.0001");
        o.disconnectAfterPackets = fault == "disconnect" ? 10 : 0;
        WindowRig rig(o);
        qx7emu::DeviceState s;
        s.windows[0] = {true, 5, 0};
        s.backgroundBank = 2;
        rig.emu.setState(s);
        QImage picture(64, 64, QImage::Format_RGB32); // 8,200 bytes: 56 full packets and one of 136 bytes
        picture.fill(Qt::darkCyan);
        picture.save(rig.folder.file("logo.bmp"));
        MainWindow &w = rig.start();
        QVERIFY(rig.connected());
        w.linkMonitor().setRetryBase(600000); // the link stays down until Reconnect
        rig.control<QListWidget>("lstFILES")->setCurrentRow(0);
        rig.click("optBANK", 1);
        // A bank that held something before: a failed load must not leave it named.
        QString &named = w.state().settings.BankFileLoaded[2];
        named = QStringLiteral("old.bmp");
        const auto record = [&] { return named + '|' + Caption(rig.find("txtLOADED", 1)); };
        rig.click("cmdLOAD");
        const MessageTable &msg = w.state().msg;
        QCOMPARE(rig.seams.boxes, (Boxes{{msg(23), msg(15)}, {msg(outcome[0]), msg(outcome[1])}}));
        // The window given back (as after a stopped load), the bank recorded as holding nothing known.
        QVERIFY(rig.control("cmdDIR")->isEnabled() && rig.control("txtJOB")->isHidden());
        QCOMPARE(record(), QStringLiteral("|"));
        w.link().flush(5000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.emu.packetsReceived(), outcome[2], 10000);
        QVERIFY(!rig.emu.bank(1).complete);
        if (fault == "old") {
            QCOMPARE(rig.emu.commands(), QStringList{"#VERSION?"});
            return;
        }

        // Every wait ends at its first poll on the lost link: the time-out state at once.
        rig.timeouts = 0;
        rig.click("labSWITCH");
        QCOMPARE(rig.timeouts, 14);
        QCOMPARE(rig.switching(), QStringLiteral("enabled 0000 full 0000 selected 0,20,40,60,84"));

        o.disconnectAfterPackets = 0;
        rig.emu.setOptions(o);
        rig.click("cmdRECONNECT");
        QVERIFY(!w.state().LinkFailed && rig.connected());
        rig.click("labSWITCH");
        QCOMPARE(rig.timeouts, 14);
        QCOMPARE(rig.switching(), QStringLiteral("enabled 1000 full 0000 selected 5,20,40,60,81"));

        w.ShowTab(9);
        rig.seams.boxes.clear();
        rig.click("cmdLOAD");
        QCOMPARE(rig.seams.boxes.size(), 1); // the start confirmation only
        QCOMPARE(record(), QStringLiteral("logo.bmp|logo.bmp"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.emu.bank(1).complete && rig.emu.bank(1).data.size() == 8200, 10000);
        QCOMPARE(rig.emu.connections(), 2);
    }
};

QTEST_MAIN(TestFaultsUpload)
#include "tst_faults_upload.moc"
