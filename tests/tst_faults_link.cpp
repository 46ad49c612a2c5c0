// The link and the command exchange against a device that sends text that never ends its line, seen by the
// operator through the preset buttons and the Switching tab, recorded in the communication log; Reconnect
// brings the device back. Late, foreign, junk and split replies are decided and tested in the exchange.

#include "windowrig.h"

#include <QAbstractButton>
#include <QRegularExpression>
#include <QTest>

using namespace qx;
using namespace qxtest;

class TestFaultsLink : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void textWithoutLineEnd_data()
    {
        QTest::addColumn<bool>("whileWaiting");
        // Idle: the preset's reply is cut out and waits for a WaitReply that never comes; the text behind it too.
        QTest::newRow("idle, after a preset recall") << false;
        QTest::newRow("while a switching command waits") << true;
    }
    void textWithoutLineEnd()
    {
        QFETCH(bool, whileWaiting);
        qx7emu::Options o;
        o.streamNoEol = true; // answers the first command, then 64 KiB per 10 ms without a line end
        WindowRig app(o);
        MainWindow &w = app.start();
        QVERIFY(app.connected());
        qint64 dropped = 0, peakRx = 0; // bytes the exchange reported as dropped; largest receive state seen
        connect(&w.log(), &CommLog::receivedChanged, this, [&](const QString &text) {
            static const QRegularExpression overflow(QStringLiteral("^RECEIVE OVERFLOW\\D*(\\d+)"));
            dropped += overflow.match(text).captured(1).toLongLong(); // 0 for other lines
        });
        // Runs after the exchange's own handler of the same arrival.
        connect(&w.link(), &DeviceLink::socketDataArrived, this, [&] {
            peakRx = qMax<qint64>(peakRx, w.exchange().rxBufferSize() + w.exchange().TcpRxBuffer.size());
        });
        constexpr qint64 kEnough = 8 << 20; // far more than the limit, so unbounded growth would show
        if (!whileWaiting) {
            app.click("cmdPRESET", 1);
            QTRY_VERIFY_WITH_TIMEOUT(dropped >= kEnough, 30000);
        } else {
            // The second command's wait sees only the endless text: 8,000 polls of 1 ms, far more than the limit.
            w.exchange().setPollMs(1);
            w.ShowTab(2);
            app.control<QAbstractButton>("optWIN1INP", 23)->click();
            QVERIFY(app.timeouts == 1 && dropped >= kEnough);
            // The read-back half a second later reads nothing but zeros.
            w.exchange().setPollMs(0);
            QTRY_VERIFY_WITH_TIMEOUT(app.switchingIdle(), 60000);
            QCOMPARE(app.switching(), QStringLiteral("enabled 0000 full 0000 selected 0,20,40,60,84"));
        }
        // Memory stays bounded: the receive state never held much more than the limit. No message box.
        QVERIFY2(peakRx <= CommandExchange::kRxLimit + 4096, qPrintable(QString::number(peakRx)));
        QVERIFY(app.seams.boxes.isEmpty());

        // The operator reconnects: the new connection gets normal replies again.
        o.streamNoEol = false;
        app.emu.setOptions(o);
        qx7emu::DeviceState s;
        s.windows[2] = {true, 9, 0};
        app.emu.setState(s);
        w.exchange().setPollMs(CommandExchange::kPollMs);
        app.click("cmdRECONNECT");
        app.timeouts = 0;
        app.click("labSWITCH"); // no text of the old connection is left to spoil the replies
        QCOMPARE(app.switching() + QString::number(app.timeouts), "enabled 0010 full 0000 selected 0,20,49,60,840");
        QTRY_COMPARE_WITH_TIMEOUT(app.emu.connections(), 2, 5000);
    }
};

QTEST_MAIN(TestFaultsLink)
#include "tst_faults_link.moc"
