// The bank upload: wire format, progress and rate texts, uploads into the emulator (done, stopped, refused, failed).

#include "banks/imageroutines.h"
#include "banks/upload.h"
#include "emulator.h"
#include "linkrig.h"
#include "util/seams.h"

#include <QtTest>

using namespace qx;
using O = qx7emu::Options;
Q_DECLARE_METATYPE(qx7emu::Options)

namespace {

// The bank image of a picture with varied colours, so that a byte out of place shows up in the stored bank.
QByteArray variedBankImage(int width, int height)
{
    QRandomGenerator random(quint32(width * 31 + height));
    QVector<quint32> pixels(width * height);
    for (quint32 &c : pixels)
        c = random.generate() & 0xFFFFFF;
    return ConvertPixels(pixels, width, height);
}

template <class T> O opt(T O::*field, const T &value)
{
    O o;
    o.*field = value;
    return o;
}

// Scripted dialogs and pauses, an emulator, the application's link to it, and what the window shows.
struct Device {
    // A device that stops reading is reached over a pseudo-terminal: what it does not take stays with the program.
    explicit Device(const O &options = {}) : emu(options)
    {
        connected = options.deafAfterPackets ? !emu.openPty(folder.file("com1")).isEmpty() && rig.openSerial(1)
                                             : rig.openTcp(emu.listenTcp());
    }
    UploadOutcome upload(int width, int height, int bank = 0)
    {
        UploadDisplay d;
        d.txtJOB = [this](const QString &t) { jobs << t; };
        d.ShowProgress = [this](int p) {
            progress << p;
            if (onProgress)
                onProgress();
        };
        d.labTECHINFO = [this](const QString &t) { techInfo << t; };
        d.lab = [this](const QString &t) { lab = t; };
        return UploadImage(rig.ex, rig.state.msg, variedBankImage(width, height), width, height, bank, d);
    }
    qxtest::ScriptedSeams seams;
    qxtest::TempProgramFolder folder;
    qx7emu::Emulator emu;
    qxtest::LinkRig rig;
    bool connected = false;
    QStringList jobs, techInfo;
    QList<int> progress;
    QString lab;
    std::function<void()> onProgress;
};

} // namespace

class TestUpload : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The packets a picture takes (their bytes as the device stores them: upload).
    void plan_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("packets");
        QTest::addColumn<int>("rest");
        QTest::newRow("2x1: final packet only") << 2 << 1 << 12 << 0 << 12;
        QTest::newRow("1024x768") << 1024 << 768 << 1572872 << 10922 << 104;
        QTest::newRow("68x1: multiple of 144") << 68 << 1 << 144 << 1 << 0;
    }
    void plan()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        const PacketPlan p = PlanPackets(width, height);
        QTEST(p.S, "size");
        QTEST(p.P, "packets");
        QTEST(p.R, "rest");
    }

    void texts_data()
    {
        QTest::addColumn<int>("ticks"); // -1: the progress of packet n of `packets`
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("packets");
        QTest::addColumn<QString>("text");
        const auto local = [](const char *text) {
            return QString::fromLatin1(text).replace(QLatin1Char('.'), QLocale::system().decimalPoint());
        };
        QTest::newRow("progress: half down to even") << -1 << 1 << 8 << "12"; // 12.5
        QTest::newRow("progress: half up to even") << -1 << 3 << 8 << "38";   // 37.5
        QTest::newRow("rate below a second") << 7 << 10 << 0 << QString();
        QTest::newRow("rate, seconds padded") << 607 << 5000 << 0 << local("1:00\r\n11.72 kBps");
        QTest::newRow("rate, no group separator") << 15 << 32000 << 0 << local("0:01\r\n4500.00 kBps");
    }
    void texts()
    {
        QFETCH(int, ticks);
        QFETCH(int, n);
        QFETCH(int, packets);
        QTEST(ticks < 0 ? QString::number(ProgressPercent(n, packets)) : RateText(ticks, n), "text");
    }

    void upload_data()
    {
        QTest::addColumn<O>("options");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("bank");
        QTest::addColumn<int>("stopAt"); // the operator stops while this packet is under way (0: never)
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("packets"); // that reach the device
        QTest::addColumn<QString>("maxpacket");
        const int done = int(UploadOutcome::Done), failed = int(UploadOutcome::LinkFailed);
        QTest::newRow("2x1 into bank 1") << O() << 2 << 1 << 0 << 0 << done << 1 << "maxpacket: 0";
        QTest::newRow("68x1: no final packet") << O() << 68 << 1 << 3 << 0 << done << 1 << "maxpacket: 1";
        QTest::newRow("64x9 into bank 3") << O() << 64 << 9 << 2 << 0 << done << 9 << "maxpacket: 8";
        QTest::newRow("announcement not answered")
            << opt(&O::noLdimReply, true) << 8 << 30 << 2 << 0 << done << 4 << "maxpacket: 3";
        // A 64 x 64 picture: 56 full packets. (A version refused: tst_link:versionCheck, its outcome tst_runner.)
        QTest::newRow("acknowledgement of 5 dropped") << opt(&O::dropAck, 5) << 64 << 64 << 0 << 0 << failed << 5;
        QTest::newRow("connection closed after 10 packets")
            << opt(&O::disconnectAfterPackets, 10) << 64 << 64 << 0 << 0 << failed << 10;
        QTest::newRow("stopped at packet 40") << O() << 64 << 64 << 0 << 40 << int(UploadOutcome::Stopped) << 40;
        QTest::newRow("device stops reading after packet 5: at most 64 KiB held unsent")
            << opt(&O::deafAfterPackets, 5) << 720 << 576 << 0 << 0 << failed << 5;
    }
    void upload()
    {
        QFETCH(O, options);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, bank);
        QFETCH(int, stopAt);
        QFETCH(int, outcome);
        QFETCH(int, packets);
        const bool done = outcome == int(UploadOutcome::Done);
        QTemporaryDir dir;
        options.logFile = dir.filePath(QStringLiteral("emulator.log"));
        Device dev(options);
        QVERIFY(dev.connected);
        dev.rig.log.setShowLog(true);
        dev.rig.log.setFeedToList(true);
        // Shortened, but real, pauses; an unanswered announcement then waits out its polls at once, and so
        // does a device that will not answer or an acknowledgement that will not come (it need not last 16 s).
        qint64 heldAtPause = 0; // what was sent has left before each pause
        qx::seams().pauseLength = [&](int ms) {
            heldAtPause = std::max(heldAtPause, dev.rig.ex.pendingBytes());
            if (options.noLdimReply && ms == 5000)
                dev.rig.ex.setPollMs(0);
            return ms == 500 ? 200 : ms == 5000 ? 800 : 0;
        };
        qint64 unsent = 0; // the most bytes waiting unsent
        dev.onProgress = [&] {
            unsent = std::max(unsent, dev.rig.ex.pendingBytes());
            const int n = int(dev.progress.size()) - 1; // the packet under way
            dev.rig.ex.setPollMs(options.dropAck > 0 && n == options.dropAck ? 0 : CommandExchange::kPollMs);
            if (stopAt > 0 && n == stopAt)
                dev.rig.ex.stop();
        };

        QCOMPARE(int(dev.upload(width, height, bank)), outcome);
        QCOMPARE(heldAtPause + (done ? dev.rig.ex.pendingBytes() : 0), 0); // and before it is done
        QCOMPARE(dev.rig.ex.stopRequested(), !done);
        QVERIFY(dev.seams.boxes.isEmpty()); // the window tells the operator
        const QByteArray image = variedBankImage(width, height);
        const QByteArray ldimCommand = "#LDIM " + QByteArray::number(image.size()) + ',' + QByteArray::number(bank);
        QByteArrayList sent{"#VERSION?\r", QByteArray("# \r\n\0", 5), ldimCommand + QByteArray("\r\n\0", 3)};
        QVERIFY(dev.emu.waitForCommands(int(sent.size()), 5000));
        dev.rig.link.flush(5000);
        QTRY_COMPARE_WITH_TIMEOUT(dev.emu.packetsReceived(), packets, 10000);
        QByteArrayList raws;
        for (const qx7emu::ReceivedCommand &c : dev.emu.received())
            raws << c.raw;
        QCOMPARE(raws, sent);
        QCOMPARE(dev.emu.bank(bank).complete, done);
        const int full = done ? int(image.size() / 144) : packets;
        if (!options.deafAfterPackets) // acknowledged, though not taken
            QCOMPARE(dev.rig.log.entries().filter(QRegularExpression("^\\(sent 150\\) ")).size(), full);
        QVERIFY2(unsent <= 64 * 1024 + 150, qPrintable(QString::number(unsent)));
        // Once packets went out, the rate text is cleared; 100 % only when done.
        QVERIFY(dev.techInfo.last().isEmpty());
        QCOMPARE(dev.progress.last() == 100, done);
        if (!done)
            return;
        // The device gets its pauses on the wire: after "# ", and between "#LDIM" and the first packet
        // (less 100 ms for the emulator thread's own delays on a busy machine; without them the gap is ~0).
        const qint64 resync = qxtest::EmulatorLogTime(options.logFile, " cmd # ");
        const qint64 ldim = qxtest::EmulatorLogTime(options.logFile, " cmd #LDIM ");
        const qint64 first = qxtest::EmulatorLogTime(options.logFile, " pkt number 1 length");
        QVERIFY2(resync >= 0 && ldim - resync >= 100, qPrintable(QString::number(ldim - resync)));
        QVERIFY2(first - ldim >= 700, qPrintable(QString::number(first - ldim)));
        QVERIFY(dev.emu.bank(bank).data == image);
        QCOMPARE(dev.jobs, (QStringList{dev.rig.state.msg(6), dev.rig.state.msg(2)}));
        QTEST(dev.lab, "maxpacket");
        QCOMPARE(dev.progress.size(), image.size() / 144 + 2); // 0, one per full packet, 100
    }
};

QTEST_GUILESS_MAIN(TestUpload)
#include "tst_upload.moc"
