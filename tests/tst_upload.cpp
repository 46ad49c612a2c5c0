// The bank upload: wire format, progress and rate texts, and uploads into the
// emulator (complete, stopped, refused, failing link).

#include "banks/imageroutines.h"
#include "banks/upload.h"
#include "emulator.h"
#include "linkrig.h"
#include "util/seams.h"

#include <QLocale>
#include <QRandomGenerator>
#include <QtTest>

using namespace qx;

namespace {

// The bank image of a picture with varied colours, so that a byte out of place
// shows up in the stored bank.
QByteArray variedBankImage(int width, int height, quint32 seed)
{
    QRandomGenerator random(seed);
    QVector<quint32> pixels(width * height);
    for (quint32 &c : pixels)
        c = random.generate() & 0xFFFFFF;
    return ConvertPixels(pixels, width, height);
}

// What the window shows during an upload.
struct UploadView {
    QStringList jobs;
    QList<int> progress;
    QStringList techInfo;
    QString lab;
    std::function<void(int)> onProgress;

    UploadDisplay callbacks()
    {
        UploadDisplay d;
        d.txtJOB = [this](const QString &t) { jobs << t; };
        d.ShowProgress = [this](int p) {
            progress << p;
            if (onProgress)
                onProgress(p);
        };
        d.labTECHINFO = [this](const QString &t) { techInfo << t; };
        d.lab = [this](const QString &t) { lab = t; };
        return d;
    }
};

// Scripted dialogs and sleeps, an emulator, and the application's link to it.
struct Device {
    explicit Device(const qx7emu::Options &options = {}) : emu(options) {}
    bool open() { return rig.openTcp(emu.listenTcp()); }
    qxtest::ScriptedSeams seams;
    qx7emu::Emulator emu;
    qxtest::LinkRig rig;
};

int sentPackets(const CommLog &log, int dataBytes)
{
    const QString head = QStringLiteral("(sent %1) ").arg(dataBytes + kPacketOverhead);
    return int(std::count_if(log.entries().begin(), log.entries().end(),
                             [&](const QString &e) { return e.startsWith(head); }));
}

} // namespace

class TestUpload : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void plan_data();
    void plan();
    void packetHeader_data();
    void packetHeader();
    void ldimCommand();
    void progress_data();
    void progress();
    void rateText_data();
    void rateText();
    void rateDue_data();
    void rateDue();

    void uploadStoresBank_data();
    void uploadStoresBank();
    void rateShownAtTicksEndingIn111();
    void stopDuringStreaming();
    void missingLdimReplyDoesNotStop();
    void refused_data();
    void refused();
    void linkFailure_data();
    void linkFailure();
};

void TestUpload::plan_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("packets");
    QTest::addColumn<int>("rest");
    QTest::newRow("2x1: final packet only") << 2 << 1 << 12 << 0 << 12;
    QTest::newRow("720x576") << 720 << 576 << 829448 << 5760 << 8;
    QTest::newRow("1024x768") << 1024 << 768 << 1572872 << 10922 << 104;
    QTest::newRow("1920x1200") << 1920 << 1200 << 4608008 << 32000 << 8;
    QTest::newRow("68x1: multiple of 144") << 68 << 1 << 144 << 1 << 0;
    QTest::newRow("one pixel wide: header only") << 0 << 7 << 8 << 0 << 8;
}

void TestUpload::plan()
{
    QFETCH(int, width);
    QFETCH(int, height);
    const PacketPlan p = PlanPackets(width, height);
    QTEST(p.S, "size");
    QTEST(p.P, "packets");
    QTEST(p.R, "rest");
    QCOMPARE(p.S, ConvertPixels(QVector<quint32>(width * height), width, height).size());
}

void TestUpload::packetHeader_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("header");
    QTest::newRow("first") << 1 << 144 << QByteArray::fromHex("00010092");
    QTest::newRow("packet 300") << 300 << 144 << QByteArray::fromHex("012C0092");
    QTest::newRow("last of 720x576") << 5761 << 8 << QByteArray::fromHex("1681000A");
    QTest::newRow("2x1 final") << 1 << 12 << QByteArray::fromHex("0001000E");
    QTest::newRow("number past 255 in both bytes") << 32001 << 8 << QByteArray::fromHex("7D01000A");
}

void TestUpload::packetHeader()
{
    QFETCH(int, number);
    QFETCH(int, length);
    QFETCH(QByteArray, header);
    QByteArray image(qint64(number) * kPacketData + 16, '\0');
    for (qsizetype i = 0; i < image.size(); ++i)
        image[i] = char(i * 7 + 1);
    const qint64 offset = qint64(number - 1) * kPacketData;
    QByteArray packet;
    BuildPacket(packet, number, image, offset, length);
    QCOMPARE(packet.size(), length + 6);
    QCOMPARE(packet.left(4), header);
    QCOMPARE(packet.mid(4, length), image.mid(offset, length));
    QCOMPARE(packet.right(2), QByteArray(2, '\0'));
}

void TestUpload::ldimCommand()
{
    QCOMPARE(LdimCommand(829448, 0), QByteArray("#LDIM 829448,0\r\n\0", 17));
    QCOMPARE(LdimCommand(12, 3), QByteArray("#LDIM 12,3\r\n\0", 13));
    QCOMPARE(MaxPacketText(5760), QStringLiteral("maxpacket: 1680"));
    QCOMPARE(MaxPacketText(32000), QStringLiteral("maxpacket: 7D00"));
}

void TestUpload::progress_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("packets");
    QTest::addColumn<int>("percent");
    QTest::newRow("half down to even") << 1 << 8 << 12; // 12.5
    QTest::newRow("half up to even") << 3 << 8 << 38;   // 37.5
    QTest::newRow("a third") << 1 << 3 << 33;
    QTest::newRow("last full packet") << 5760 << 5760 << 100;
    QTest::newRow("just below the end") << 5759 << 5760 << 100;
    QTest::newRow("first of many") << 1 << 32000 << 0;
}

void TestUpload::progress()
{
    QFETCH(int, n);
    QFETCH(int, packets);
    QTEST(ProgressPercent(n, packets), "percent");
}

void TestUpload::rateText_data()
{
    const auto local = [](const char *text) {
        return QString::fromLatin1(text).replace(QLatin1Char('.'), QLocale::system().decimalPoint());
    };
    QTest::addColumn<int>("ticks");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("text");
    QTest::newRow("below a second") << 7 << 10 << QString();
    QTest::newRow("2:05") << 1255 << 1001 << local("2:05\r\n1.13 kBps");
    QTest::newRow("seconds padded") << 607 << 5000 << local("1:00\r\n11.72 kBps");
    QTest::newRow("no group separator") << 15 << 32000 << local("0:01\r\n4500.00 kBps");
    QTest::newRow("ten minutes") << 6007 << 32000 << local("10:00\r\n7.50 kBps");
}

void TestUpload::rateText()
{
    QFETCH(int, ticks);
    QFETCH(int, n);
    QTEST(RateText(ticks, n), "text");
}

void TestUpload::rateDue_data()
{
    QTest::addColumn<int>("t");
    QTest::addColumn<int>("t0");
    QTest::addColumn<bool>("due");
    QTest::newRow("7 new") << 7 << 0 << true;
    QTest::newRow("7 again") << 7 << 7 << false;
    QTest::newRow("15") << 15 << 7 << true;
    QTest::newRow("8") << 8 << 7 << false;
    QTest::newRow("binary 1111") << 0x10FFFFFF << 0 << true;
}

void TestUpload::rateDue()
{
    QFETCH(int, t);
    QFETCH(int, t0);
    QTEST(RateDue(t, t0), "due");
}

void TestUpload::uploadStoresBank_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("bank");
    QTest::addColumn<int>("packets"); // packets the device receives
    QTest::newRow("2x1 into bank 1") << 2 << 1 << 0 << 1;
    QTest::newRow("68x1: no final packet") << 68 << 1 << 3 << 1;
    QTest::newRow("64x9 into bank 3") << 64 << 9 << 2 << 9;
    QTest::newRow("720x576") << 720 << 576 << 1 << 5761;
}

void TestUpload::uploadStoresBank()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, bank);
    QFETCH(int, packets);
    Device dev;
    QVERIFY(dev.open());

    const QByteArray image = variedBankImage(width, height, quint32(width * 31 + height));
    UploadView display;
    const UploadOutcome outcome =
        UploadImage(dev.rig.ex, dev.rig.state.msg, image, width, height, bank, display.callbacks());
    QCOMPARE(int(outcome), int(UploadOutcome::Done));
    QVERIFY(!dev.rig.ex.StopRequested);
    QVERIFY(dev.seams.boxes.isEmpty());
    QCOMPARE(dev.seams.sleeps, (QList<int>{500, 5000}));

    QTRY_VERIFY_WITH_TIMEOUT(dev.emu.bank(bank).complete, 10000);
    QCOMPARE(dev.emu.packetsReceived(), packets);
    const qx7emu::Bank stored = dev.emu.bank(bank);
    QCOMPARE(stored.width, width);
    QCOMPARE(stored.height, height);
    QVERIFY(stored.data == image);

    const QList<qx7emu::ReceivedCommand> commands = dev.emu.received();
    QCOMPARE(commands.size(), 3);
    QCOMPARE(commands[0].text, QStringLiteral("#VERSION?"));
    QCOMPARE(commands[1].raw, QByteArray("# \r\n\0", 5));
    QCOMPARE(commands[2].raw, LdimCommand(image.size(), bank));

    const PacketPlan plan = PlanPackets(width, height);
    QCOMPARE(display.jobs, (QStringList{dev.rig.state.msg(6), dev.rig.state.msg(2)}));
    QCOMPARE(display.lab, MaxPacketText(plan.P));
    QCOMPARE(display.progress.size(), plan.P + 2); // 0, one per full packet, 100
    QCOMPARE(display.progress.first(), 0);
    QCOMPARE(display.progress.last(), 100);
    for (int n = 1; n <= plan.P; ++n)
        QCOMPARE(display.progress[n], ProgressPercent(n, plan.P));
    QVERIFY(!display.techInfo.isEmpty());
    QCOMPARE(display.techInfo.last(), QString());
}

void TestUpload::rateShownAtTicksEndingIn111()
{
    Device dev;
    QVERIFY(dev.open());
    dev.rig.ex.Timer_time.stop(); // the ticks are scripted below

    // Tick count seen before packet n (index n); the upload resets it to 0 first.
    const QList<int> ticks = {0, 7, 7, 15, 15, 23, 24, 31, 31};
    UploadView display;
    display.onProgress = [&](int) {
        const int n = int(display.progress.size()) - 1;
        if (n >= 1 && n < ticks.size())
            dev.rig.ex.TimeTicks = ticks[n];
    };
    const QByteArray image = variedBankImage(64, 9, 2); // 8 full packets
    QCOMPARE(int(UploadImage(dev.rig.ex, dev.rig.state.msg, image, 64, 9, 0, display.callbacks())),
             int(UploadOutcome::Done));
    // Tick 7 is due but under a second (no text); 15, 23 and 31 show the rate
    // over the packets so far; repeats and 24 do not.
    QCOMPARE(display.techInfo, (QStringList{RateText(15, 3), RateText(23, 5), RateText(31, 7), QString()}));
}

void TestUpload::stopDuringStreaming()
{
    Device dev;
    QVERIFY(dev.open());
    dev.rig.log.setShowLog(true);
    dev.rig.log.setFeedToList(true);

    // The operator's stop arrives while packet 40 is under way.
    constexpr int kStopAt = 40;
    const QByteArray image = variedBankImage(64, 64, 3); // 56 full packets
    UploadView display;
    display.onProgress = [&](int) {
        if (display.progress.size() == kStopAt + 1)
            dev.rig.ex.StopRequested = true;
    };
    const UploadOutcome outcome = UploadImage(dev.rig.ex, dev.rig.state.msg, image, 64, 64, 1, display.callbacks());
    QCOMPARE(int(outcome), int(UploadOutcome::Stopped));
    QVERIFY(dev.rig.ex.StopRequested);
    QVERIFY(dev.seams.boxes.isEmpty());
    QCOMPARE(sentPackets(dev.rig.log, kPacketData), kStopAt);
    QCOMPARE(display.progress.last(), ProgressPercent(kStopAt, PlanPackets(64, 64).P)); // no 100 %
    QCOMPARE(display.techInfo.last(), QString());

    dev.rig.link.flush(5000);
    QTRY_COMPARE_WITH_TIMEOUT(dev.emu.packetsReceived(), kStopAt, 10000);
    QVERIFY(!dev.emu.bank(1).complete);
}

void TestUpload::missingLdimReplyDoesNotStop()
{
    qx7emu::Options options;
    options.noLdimReply = true;
    Device dev(options);
    QVERIFY(dev.open());

    // The unanswered announcement waits out its whole budget of polls; make
    // those polls instant (the sleep before that wait is the hook), and give
    // the packets their normal polls again once the display switches over.
    qx::seams().sleep = [&](int ms) {
        if (ms == 5000)
            dev.rig.ex.setPollMs(0);
    };
    UploadView display;
    display.onProgress = [&](int) { dev.rig.ex.setPollMs(CommandExchange::kPollMs); };

    const QByteArray image = variedBankImage(8, 30, 5);
    const UploadOutcome outcome = UploadImage(dev.rig.ex, dev.rig.state.msg, image, 8, 30, 2, display.callbacks());
    QCOMPARE(int(outcome), int(UploadOutcome::Done));
    QVERIFY(dev.seams.boxes.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(dev.emu.bank(2).complete, 10000);
    QVERIFY(dev.emu.bank(2).data == image);
}

void TestUpload::refused_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("text");
    QTest::addColumn<int>("title");
    QTest::newRow("old firmware") << "2.11.0001" << false << int(UploadOutcome::OldFirmware) << 16 << 17;
    QTest::newRow("silent device") << "2.12.0005" << true << int(UploadOutcome::NoVersionReply) << 22 << 4;
}

void TestUpload::refused()
{
    QFETCH(QString, version);
    QFETCH(bool, silent);
    qx7emu::Options options;
    options.version = version;
    options.silent = silent;
    Device dev(options);
    QVERIFY(dev.open());
    if (silent)
        dev.rig.ex.setPollMs(0); // nothing will come: let the budget of polls run out at once

    UploadView display;
    const QByteArray image = variedBankImage(2, 1, 1);
    const UploadOutcome outcome = UploadImage(dev.rig.ex, dev.rig.state.msg, image, 2, 1, 0, display.callbacks());
    QTEST(int(outcome), "outcome");
    QVERIFY(dev.rig.ex.StopRequested);
    QFETCH(int, text);
    QFETCH(int, title);
    QCOMPARE(dev.seams.boxes, (QList<QPair<QString, QString>>{{dev.rig.state.msg(text), dev.rig.state.msg(title)}}));
    QVERIFY(dev.seams.sleeps.isEmpty());
    QVERIFY(display.progress.isEmpty());

    // Only the version query reached the device.
    QVERIFY(dev.emu.waitForCommands(1, 5000));
    dev.rig.link.flush(5000);
    QCOMPARE(dev.emu.commands(), QStringList{QStringLiteral("#VERSION?")});
    QCOMPARE(dev.emu.packetsReceived(), 0);
    QVERIFY(!dev.emu.bank(0).complete);
}

void TestUpload::linkFailure_data()
{
    QTest::addColumn<int>("dropAck");
    QTest::addColumn<int>("disconnectAfter");
    QTest::addColumn<int>("packets"); // packets that reach the device
    QTest::newRow("acknowledgement of packet 5 dropped") << 5 << 0 << 5;
    QTest::newRow("connection closed after 10 packets") << 0 << 10 << 10;
}

void TestUpload::linkFailure()
{
    QFETCH(int, dropAck);
    QFETCH(int, disconnectAfter);
    QFETCH(int, packets);
    qx7emu::Options options;
    options.dropAck = dropAck;
    options.disconnectAfterPackets = disconnectAfter;
    Device dev(options);
    QVERIFY(dev.open());
    dev.rig.log.setShowLog(true);
    dev.rig.log.setFeedToList(true);

    UploadView display;
    display.onProgress = [&](int) {
        // The wait for the acknowledgement that never comes need not last 16 s.
        if (dropAck > 0 && display.progress.size() == dropAck + 1)
            dev.rig.ex.setPollMs(0);
    };
    const QByteArray image = variedBankImage(64, 64, 9);
    const UploadOutcome outcome = UploadImage(dev.rig.ex, dev.rig.state.msg, image, 64, 64, 0, display.callbacks());
    QCOMPARE(int(outcome), int(UploadOutcome::LinkFailed));
    QVERIFY(dev.rig.ex.StopRequested);
    QCOMPARE(dev.seams.boxes, (QList<QPair<QString, QString>>{{dev.rig.state.msg(22), dev.rig.state.msg(4)}}));
    QCOMPARE(sentPackets(dev.rig.log, kPacketData), packets);
    QCOMPARE(display.techInfo.last(), QString());
    QVERIFY(display.progress.last() < 100);
    QTRY_COMPARE_WITH_TIMEOUT(dev.emu.packetsReceived(), packets, 10000);
    QVERIFY(!dev.emu.bank(0).complete);
}

QTEST_GUILESS_MAIN(TestUpload)
#include "tst_upload.moc"
