// The link comes back by itself: the device closes the connection, is
// switched off, is not there at start, or its serial device goes away; the
// indicator tells, a background retry reconnects the link as last applied,
// and the next click reaches the device, all without a message box. The
// session alone: what is sent while the link is not up, the pauses between
// retries and the lease that holds them back.

#include "link/devicesession.h"
#include "windowrig.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace qx;
using namespace qxtest;

enum class Loss { OffAtStart, Unplugged, EditedThenSpace };

class TestReconnect : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void linkComesBack_data()
    {
        QTest::addColumn<Loss>("loss");
        QTest::addColumn<QString>("down"); // the indicator while the link is down
        QTest::newRow("device off at start") << Loss::OffAtStart << "No connection";
        QTest::newRow("serial device unplugged") << Loss::Unplugged << "Serial port 1 not available";
        QTest::newRow("settings edited, not applied; Space on the indicator") << Loss::EditedThenSpace << "Lost";
    }

    void linkComesBack()
    {
        QFETCH(Loss, loss);
        QFETCH(QString, down);
        WindowRig rig({}, loss == Loss::Unplugged ? WindowRig::Link::Serial : WindowRig::Link::Tcp);
        const quint16 port = rig.emu.tcpPort();
        if (loss == Loss::OffAtStart)
            rig.emu.stopTcp();
        MainWindow &w = rig.start();
        rig.core->session.monitor().setRetryBase(loss == Loss::EditedThenSpace ? 600000 : 20);
        auto *indicator = rig.control<QLabel>("labLINK");
        QStringList shown; // every text the indicator took
        connect(&rig.core->session.monitor(), &LinkMonitor::changed, this, [&] { shown << indicator->text(); });
        const QString connected =
            "Connected \u00B7 " + (loss == Loss::Unplugged ? QString("com1") : "127.0.0.1:" + QString::number(port));
        if (loss != Loss::OffAtStart)
            QTRY_COMPARE(indicator->text(), connected);

        w.ShowTab(TabPresets);
        if (loss == Loss::Unplugged)
            rig.emu.closePty();
        else if (loss != Loss::OffAtStart)
            rig.emu.stopTcp();
        QTRY_VERIFY(!shown.filter(QRegularExpression("^" + down + " \u00B7 retrying in \\d+ s$")).isEmpty());
        // Off at start, a click sends nothing and says so, for the note's full time while retries go on.
        if (loss == Loss::OffAtStart) {
            QSignalSpy changes(&rig.core->session.monitor(), &LinkMonitor::changed);
            rig.click("cmdPRESET", 2);
            QElapsedTimer note;
            note.start();
            QVERIFY(changes.wait(2000));
            QCOMPARE(indicator->text(), "Not sent: link lost");
            QTRY_VERIFY_WITH_TIMEOUT(indicator->text() != "Not sent: link lost", 5000);
            QVERIFY(note.elapsed() >= IndicatorNote::kShownMs && w.tally().current() == 0);
        }
        if (loss == Loss::EditedThenSpace) { // serial port 1 and a half-typed address, Reconnect not pressed
            rig.control<QLineEdit>("txtTCPSETTINGS")->setText("127.0.0.1:");
            rig.click("chkCOM");
        }
        if (loss == Loss::Unplugged)
            QVERIFY(!rig.emu.openPty(rig.folder.file("com1")).isEmpty());
        else
            QCOMPARE(rig.emu.listenTcp(port), port);
        if (loss == Loss::EditedThenSpace) // only the key retries, to the link as last applied
            QTest::keyClick(indicator, Qt::Key_Space);
        QTRY_COMPARE(indicator->text(), connected);
        // The log's line of the retry that worked: a serial port is open at once, TCP once connected.
        QCOMPARE(rig.core->log.lastReceived(), loss == Loss::Unplugged ? "(reconnect) open" : "(reconnect) connected");

        rig.emu.clearReceived();
        rig.click("cmdPRESET", 5);
        QTRY_COMPARE(rig.emu.commands(), QStringList{"#PRST-RCL 5"});
        QVERIFY(rig.seams.boxes.isEmpty()); // retries are silent
    }

    void session()
    {
        qx7emu::Emulator emu;
        AppState state;
        state.settings.ComPort = 0;
        state.settings.TcpSettings = "127.0.0.1:";
        CommLog log;
        log.setShowLog(true);
        DeviceSession session(state.settings, log);
        LinkMonitor &monitor = session.monitor();
        monitor.setRetryBase(20);
        const auto send = [&session](const QByteArray &command) {
            const DeviceSession::Lease lease = session.lease(); // given back at once: the retries may run
            lease.exchange().startReceiveTimer();
            return lease.exchange().SendCommand(command);
        };
        QCOMPARE(session.open(), LinkOpenResult::TcpFailed);
        QVERIFY(monitor.state() == LinkMonitor::State::AddressUnusable && !monitor.retryPending()); // never retried
        // Nothing written while the connection is being made goes out later.
        const quint16 port = emu.listenTcp();
        state.settings.TcpSettings = "127.0.0.1:" + QString::number(port);
        QCOMPARE(session.open(), LinkOpenResult::Opened);
        QVERIFY(!send("#PRST-RCL 1\r"));
        QVERIFY(log.lastSent().startsWith("(not sent 12) 23 50"));
        QTRY_VERIFY(session.isConnected());
        QVERIFY(send("#PRST-RCL 2\r"));
        QTRY_COMPARE(emu.commands(), QStringList{"#PRST-RCL 2"});
        // A wait that goes unanswered on a live link is "Not answering"; the next line from the device ends it.
        qx7emu::Options o;
        o.silent = true;
        for (const QString &shown :
             QStringList{"Not answering", "Connected \u00B7 127.0.0.1:" + QString::number(port)}) {
            emu.setOptions(o);
            const DeviceSession::Lease lease = session.lease();
            // Polls of no length end the silent wait at once, but a busy machine may not answer within them.
            lease.exchange().setPollMs(o.silent ? 0 : CommandExchange::kPollMs);
            lease.exchange().SendCommand("#VERSION?\r");
            lease.exchange().WaitReply("~01@VERSION ");
            QCOMPARE(LinkStateText(monitor, session.applied(), MessageTable()), shown);
            o.silent = false;
        }
        QVERIFY(monitor.lastReply().isValid());
        // A device that accepts and closes at once: the pause doubles up to five times the first.
        o.closeOnAccept = true;
        emu.setOptions(o);
        emu.stopTcp();
        QCOMPARE(emu.listenTcp(port), port);
        QTRY_VERIFY(emu.connections() >= 6);
        QCOMPARE(monitor.nextPauseMs(), 100);
        // While a sequence holds the lease no retry runs, and a wait on the dead link ends at once.
        const int counted = log.messageCount();
        {
            const DeviceSession::Lease lease = session.lease();
            emu.stopTcp();
            QTRY_VERIFY(!session.isConnected() && !session.isConnecting());
            const int tried = emu.connections();
            QCOMPARE(emu.listenTcp(port), port);
            emu.setOptions({});
            lease.exchange().setPollMs(1000); // a wait that polled would outlast the test's time limit
            lease.exchange().WaitReply("~01@");
            QVERIFY(!QTest::qWaitFor([&] { return emu.connections() > tried; }, 300));
        }
        // Released, the retry connects; a connection that stays up starts the pauses again from the first.
        QTRY_VERIFY(session.isConnected() && monitor.nextPauseMs() == 20);
        QCOMPARE(log.messageCount(), counted + 1); // the time-out; the reconnect lines are not counted
    }

    void blackHoledDevice()
    {
        // A device behind a switch that is off: connection requests get no answer,
        // not even a refusal. The attempt is abandoned after its own time-out and
        // the next goes out at once, its pause counted from the attempt's start, so
        // the device is connected soon after it comes back.
        QTemporaryDir dir;
        qx7emu::Options o;
        o.blackHole = true;
        o.logFile = dir.filePath("emu.log");
        qx7emu::Emulator emu(o);
        AppState state;
        CommLog log;
        DeviceSession session(state.settings, log);
        session.monitor().setRetryBase(2000);
        QSignalSpy failed(&std::as_const(session).exchange().link(), &DeviceLink::connectFailed);
        state.settings.ComPort = 0;
        state.settings.TcpSettings = "127.0.0.1:" + QString::number(emu.listenTcp());
        QCOMPARE(session.open(), LinkOpenResult::Opened);
        QVERIFY(failed.wait(DeviceLink::kConnectTimeoutMs + 5000));
        QCOMPARE(failed.at(0).at(0).toString(), QString("no answer"));
        QTRY_VERIFY_WITH_TIMEOUT(session.isConnecting(), 1000); // not after the first pause of 2 s
        emu.endBlackHole();
        QTRY_VERIFY_WITH_TIMEOUT(session.isConnected(), 10000);
        const qint64 back = EmulatorLogTime(o.logFile, "tcp black hole ended");
        const qint64 connected = EmulatorLogTime(o.logFile, "tcp connection from port");
        QVERIFY(back >= 0 && connected >= back && connected - back < 5000);
    }
};

QTEST_MAIN(TestReconnect)
#include "tst_reconnect.moc"
