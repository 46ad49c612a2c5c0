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
Q_DECLARE_METATYPE(qx7emu::Options)

namespace {

// The bank image of a picture with varied colours, so that a byte out of place shows up in the stored bank.
QByteArray variedBankImage(int width, int height, quint32 seed)
{
    QRandomGenerator random(seed);
    QVector<quint32> pixels(width * height);
    for (quint32 &c : pixels)
        c = random.generate() & 0xFFFFFF;
    return ConvertPixels(pixels, width, height);
}

template <class T> qx7emu::Options opt(T qx7emu::Options::*field, const T &value)
{
    qx7emu::Options o;
    o.*field = value;
    return o;
}

// Scripted dialogs and pauses, an emulator, the application's link to it, and what the window shows.
struct Device {
    explicit Device(const qx7emu::Options &options = {}) : emu(options) {}
    bool open() { return rig.openTcp(emu.listenTcp()); }
    UploadOutcome upload(const QByteArray &image, int width, int height, int bank)
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
        return UploadImage(rig.ex, rig.state.msg, image, width, height, bank, d);
    }
    qxtest::ScriptedSeams seams;
    qx7emu::Emulator emu;
    qxtest::LinkRig rig;
    QStringList jobs, techInfo;
    QList<int> progress;
    QString lab;
    std::function<void(int)> onProgress;
};

} // namespace

class TestUpload : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void plan_data();
    void plan();
    void progress_data();
    void progress();
    void rateText_data();
    void rateText();
    void uploadStoresBank_data();
    void uploadStoresBank();
    void rateShownAtTicksEndingIn111();
    void unfinished_data();
    void unfinished();
};

void TestUpload::plan_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("packets");
    QTest::addColumn<int>("rest");
    QTest::addColumn<QByteArray>("lastHeader"); // of the last packet: number, length + 2
    QTest::newRow("2x1: final packet only") << 2 << 1 << 12 << 0 << 12 << QByteArray::fromHex("0001000E");
    QTest::newRow("720x576") << 720 << 576 << 829448 << 5760 << 8 << QByteArray::fromHex("1681000A");
    QTest::newRow("1024x768") << 1024 << 768 << 1572872 << 10922 << 104 << QByteArray::fromHex("2AAB006A");
    QTest::newRow("1920x1200") << 1920 << 1200 << 4608008 << 32000 << 8 << QByteArray::fromHex("7D01000A");
    QTest::newRow("68x1: multiple of 144") << 68 << 1 << 144 << 1 << 0 << QByteArray::fromHex("00010092");
    QTest::newRow("one pixel wide: header only") << 0 << 7 << 8 << 0 << 8 << QByteArray::fromHex("0001000A");
}

void TestUpload::plan()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QByteArray, lastHeader);
    const PacketPlan p = PlanPackets(width, height);
    QTEST(p.S, "size");
    QTEST(p.P, "packets");
    QTEST(p.R, "rest");
    QByteArray image = ConvertPixels(QVector<quint32>(width * height), width, height);
    QCOMPARE(image.size(), p.S);
    for (qsizetype i = 8; i < image.size(); ++i)
        image[i] = char(i * 7 + 1);
    const int number = p.R ? p.P + 1 : p.P, length = p.R ? p.R : kPacketData;
    const qint64 offset = qint64(number - 1) * kPacketData;
    QByteArray packet;
    BuildPacket(packet, number, image, offset, length);
    QCOMPARE(packet, lastHeader + image.mid(offset, length) + QByteArray(2, '\0'));
}

void TestUpload::progress_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("packets");
    QTest::addColumn<int>("percent");
    QTest::newRow("half down to even") << 1 << 8 << 12; // 12.5
    QTest::newRow("half up to even") << 3 << 8 << 38;   // 37.5
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

void TestUpload::uploadStoresBank_data()
{
    QTest::addColumn<qx7emu::Options>("options");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("bank");
    QTest::addColumn<QString>("maxpacket");
    const qx7emu::Options plain;
    QTest::newRow("2x1 into bank 1") << plain << 2 << 1 << 0 << "maxpacket: 0";
    QTest::newRow("68x1: no final packet") << plain << 68 << 1 << 3 << "maxpacket: 1";
    QTest::newRow("64x9 into bank 3") << plain << 64 << 9 << 2 << "maxpacket: 8";
    QTest::newRow("720x576") << plain << 720 << 576 << 1 << "maxpacket: 1680";
    QTest::newRow("announcement not answered")
        << opt(&qx7emu::Options::noLdimReply, true) << 8 << 30 << 2 << "maxpacket: 3";
}

void TestUpload::uploadStoresBank()
{
    QFETCH(qx7emu::Options, options);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, bank);
    QTemporaryDir dir;
    options.logFile = dir.filePath(QStringLiteral("emulator.log"));
    Device dev(options);
    QVERIFY(dev.open());
    // Shortened, but real, pauses; an unanswered announcement then waits out its polls at once.
    dev.seams.pauses = {{500, 200}, {5000, 800}};
    qx::seams().pauseLength = [&](int ms) {
        if (options.noLdimReply && ms == 5000)
            dev.rig.ex.setPollMs(0);
        return dev.seams.pauses.value(ms);
    };
    dev.onProgress = [&](int) { dev.rig.ex.setPollMs(CommandExchange::kPollMs); };

    const QByteArray image = variedBankImage(width, height, quint32(width * 31 + height));
    QCOMPARE(int(dev.upload(image, width, height, bank)), int(UploadOutcome::Done));
    QVERIFY(!dev.rig.ex.StopRequested);
    QVERIFY(dev.seams.boxes.isEmpty());
    // The device gets its pauses on the wire: after "# ", and between "#LDIM" and the first packet
    // (less 100 ms for the emulator thread's own delays on a busy machine; without them the gap is ~0).
    const qint64 resync = qxtest::EmulatorLogTime(options.logFile, " cmd # ");
    const qint64 ldim = qxtest::EmulatorLogTime(options.logFile, " cmd #LDIM ");
    const qint64 first = qxtest::EmulatorLogTime(options.logFile, " pkt number 1 length");
    QVERIFY2(resync >= 0 && ldim - resync >= 100, qPrintable(QString::number(ldim - resync)));
    QVERIFY2(first - ldim >= 700, qPrintable(QString::number(first - ldim)));
    QTRY_VERIFY_WITH_TIMEOUT(dev.emu.bank(bank).complete, 10000);
    const qx7emu::Bank stored = dev.emu.bank(bank);
    QVERIFY(stored.data == image);
    QCOMPARE(dev.emu.packetsReceived(), int(image.size() + 143) / 144);

    const QList<qx7emu::ReceivedCommand> commands = dev.emu.received();
    QCOMPARE(commands.size(), 3);
    QCOMPARE(commands[0].text, QStringLiteral("#VERSION?"));
    QCOMPARE(commands[1].raw, QByteArray("# \r\n\0", 5));
    QCOMPARE(commands[2].raw,
             "#LDIM " + QByteArray::number(image.size()) + ',' + QByteArray::number(bank) + QByteArray("\r\n\0", 3));

    QCOMPARE(dev.jobs, (QStringList{dev.rig.state.msg(6), dev.rig.state.msg(2)}));
    QTEST(dev.lab, "maxpacket");
    QList<int> progress{0}; // then one per full packet, and 100
    for (int n = 1, full = int(image.size() / 144); n <= full; ++n)
        progress << ProgressPercent(n, full);
    QCOMPARE(dev.progress, progress << 100);
    QVERIFY(!dev.techInfo.isEmpty() && dev.techInfo.last().isEmpty());
}

void TestUpload::rateShownAtTicksEndingIn111()
{
    Device dev;
    QVERIFY(dev.open());
    dev.rig.ex.Timer_time.stop(); // the ticks are scripted: the count seen before packet n (index n)
    const QList<int> ticks = {0, 7, 7, 15, 15, 23, 24, 31, 31};
    dev.onProgress = [&](int) {
        if (dev.progress.size() - 1 < ticks.size())
            dev.rig.ex.TimeTicks = ticks[dev.progress.size() - 1];
    };
    QCOMPARE(int(dev.upload(variedBankImage(64, 9, 2), 64, 9, 0)), int(UploadOutcome::Done)); // 8 full packets
    // Tick 7 is due but under a second (no text); 15, 23 and 31 show the rate so far; repeats and 24 do not.
    QCOMPARE(dev.techInfo, (QStringList{RateText(15, 3), RateText(23, 5), RateText(31, 7), QString()}));
}

void TestUpload::unfinished_data()
{
    QTest::addColumn<qx7emu::Options>("options");
    QTest::addColumn<int>("stopAt"); // the operator stops while this packet is under way (0: never)
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("packets"); // full packets that reach the device
    using O = qx7emu::Options;
    QTest::newRow("old firmware") << opt(&O::version, QStringLiteral("2.11.0001")) << 0
                                  << int(UploadOutcome::OldFirmware) << 0;
    QTest::newRow("silent device") << opt(&O::silent, true) << 0 << int(UploadOutcome::NoVersionReply) << 0;
    QTest::newRow("acknowledgement of packet 5 dropped")
        << opt(&O::dropAck, 5) << 0 << int(UploadOutcome::LinkFailed) << 5;
    QTest::newRow("connection closed after 10 packets")
        << opt(&O::disconnectAfterPackets, 10) << 0 << int(UploadOutcome::LinkFailed) << 10;
    QTest::newRow("stopped at packet 40") << O() << 40 << int(UploadOutcome::Stopped) << 40;
}

void TestUpload::unfinished()
{
    QFETCH(qx7emu::Options, options);
    QFETCH(int, stopAt);
    QFETCH(int, packets);
    Device dev(options);
    QVERIFY(dev.open());
    dev.rig.log.setShowLog(true);
    dev.rig.log.setFeedToList(true);
    if (options.silent)
        dev.rig.ex.setPollMs(0); // nothing will come: let the budget of polls run out at once
    dev.onProgress = [&](int) {
        if (stopAt > 0 && dev.progress.size() == stopAt + 1)
            dev.rig.ex.StopRequested = true;
        if (options.dropAck > 0 && dev.progress.size() == options.dropAck + 1)
            dev.rig.ex.setPollMs(0); // the wait for the missing acknowledgement need not last 16 s
    };
    QTEST(int(dev.upload(variedBankImage(64, 64, 9), 64, 64, 0)), "outcome"); // 56 full packets
    QVERIFY(dev.rig.ex.StopRequested);
    QVERIFY(dev.seams.boxes.isEmpty()); // the window tells the operator
    const QString sent = QStringLiteral("(sent 150) ");
    QCOMPARE(int(std::count_if(dev.rig.log.entries().begin(), dev.rig.log.entries().end(),
                               [&](const QString &e) { return e.startsWith(sent); })),
             packets);
    // No 100 %; once packets went out, the rate text is cleared; a refusal sent only the version query.
    QVERIFY(dev.progress.isEmpty() ? packets == 0 : dev.progress.last() < 100);
    QVERIFY(packets == 0 || dev.techInfo.last().isEmpty());
    QVERIFY(dev.emu.waitForCommands(packets ? 3 : 1, 5000));
    dev.rig.link.flush(5000);
    QTRY_COMPARE_WITH_TIMEOUT(dev.emu.packetsReceived(), packets, 10000);
    QCOMPARE(dev.emu.commands().size(), packets ? 3 : 1);
    QVERIFY(!dev.emu.bank(0).complete);
}

QTEST_GUILESS_MAIN(TestUpload)
#include "tst_upload.moc"
