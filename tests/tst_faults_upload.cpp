// A bank load against a device that misbehaves during the upload: silent,
// old firmware, a lost acknowledgement, a connection closed mid-stream, an
// unanswered announcement, foreign lines, junk and replies in pieces. What
// the operator sees: the message boxes and the window given back (caption,
// controls, progress hidden); what is recorded: the bank's record
// (BankFileLoaded, txtLOADED) and what the device actually stored.

#include "app/filespage.h"
#include "app/mainwindow.h"
#include "app/switchingpage.h"
#include "banks/imageroutines.h"
#include "emulator.h"
#include "linkrig.h"

#include <QCheckBox>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

using namespace qx;
using namespace qxtest;
using Boxes = QList<QPair<QString, QString>>;

namespace {

constexpr int kWidth = 64, kHeight = 64; // 8,200 bytes: 56 full packets and one of 136 bytes
constexpr int kPackets = 57;

QImage picture()
{
    QImage img(kWidth, kHeight, QImage::Format_RGB32);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            img.setPixel(x, y, qRgb(x * 4, y * 4, (x ^ y) * 4));
    return img;
}

// The whole application in this process, started from a program folder whose
// settings point it at the emulator on 127.0.0.1, with a picture ready for bank 2.
struct App {
    TempProgramFolder folder;
    ScriptedSeams seams;
    qx7emu::Emulator emu;
    MainWindow w;
    int timeouts = 0;

    explicit App(const qx7emu::Options &options) : emu(options)
    {
        WriteTcpConfig(folder.path(), emu.listenTcp());
        picture().save(folder.file(QStringLiteral("logo.bmp")));
        w.Form_Load({});
        w.log().setShowLog(true);
        QObject::connect(&w.log(), &CommLog::receivedChanged,
                         [this](const QString &text) { timeouts += text == QLatin1String("TIMEOUT ERROR"); });
        w.show();
        FilesPage &f = w.files();
        f.lstFILES->setCurrentRow(0);
        f.optBANK[1]->setChecked(true);
        // A bank that held something before: a failed load must not leave it named.
        w.state().settings.BankFileLoaded[2] = QStringLiteral("old.bmp");
        f.txtLOADED[1]->setText(QStringLiteral("old.bmp"));
    }
    bool connected()
    {
        return QTest::qWaitFor([this] { return w.link().tcpSocket().state() == QAbstractSocket::ConnectedState; },
                               5000);
    }
    void load() { QTest::mouseClick(w.files().cmdLOAD, Qt::LeftButton); }
    bool restored()
    {
        FilesPage &f = w.files();
        return !f.LoadRunning && f.cmdLOAD->text() == QLatin1String("Load image to selected bank") &&
               f.cmdDIR->isEnabled() && f.lstFILES->isEnabled() && f.optBANK[0]->isEnabled() &&
               f.cmdRECONNECT->isEnabled() && w.btnSWITCH->isEnabled() && f.boxFRAMING->isHidden() &&
               f.txtJOB->isHidden() && f.labTECHINFO->text().isEmpty();
    }
    QString record() { return w.state().settings.BankFileLoaded[2]; }
};

// What bank 2 must hold after a complete load.
QByteArray expectedBank()
{
    return ConvertPixels(CapturePixels(picture(), kWidth, kHeight), kWidth, kHeight);
}

} // namespace

class TestFaultsUpload : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void loadUnderFault_data();
    void loadUnderFault();
    void disconnectThenReconnect();
};

void TestFaultsUpload::loadUnderFault_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("boxText"); // message shown after the start confirmation (0: none)
    QTest::addColumn<int>("boxTitle");
    QTest::addColumn<int>("packets");  // data packets that reached the device
    QTest::addColumn<int>("timeouts"); // "TIMEOUT ERROR" lines logged
    using O = FilesPage::LoadOutcome;
    // Refusals before anything reaches the bank: only "#VERSION?" is sent.
    QTest::newRow("silent device") << "silent" << int(O::LinkFailed) << 22 << 4 << 0 << 1;
    QTest::newRow("old firmware 2.11") << "old" << int(O::Refused) << 16 << 17 << 0 << 0;
    // A packet that is not acknowledged within the wait ends the upload at
    // once with "No reply from the QX-7", instead of streaming the rest of
    // the image into a device that no longer listens.
    QTest::newRow("acknowledgement of packet 5 lost") << "dropAck" << int(O::LinkFailed) << 22 << 4 << 5 << 1;
    QTest::newRow("connection closed after 10 packets") << "disconnect" << int(O::LinkFailed) << 22 << 4 << 10 << 1;
    // The announcement's reply is only awaited, not needed.
    QTest::newRow("announcement left unanswered") << "noLdim" << int(O::Loaded) << 0 << 0 << kPackets << 1;
    // Any line acknowledges a packet, so foreign lines and junk lines stand in
    // for acknowledgements; the device still gets every packet in order.
    QTest::newRow("19 foreign lines before every reply") << "noise19" << int(O::Loaded) << 0 << 0 << kPackets << -1;
    QTest::newRow("64 bytes of junk before every reply") << "garbage" << int(O::Loaded) << 0 << 0 << kPackets << -1;
    QTest::newRow("replies in pieces of 3 bytes") << "fragment" << int(O::Loaded) << 0 << 0 << kPackets << 0;
}

void TestFaultsUpload::loadUnderFault()
{
    QFETCH(QString, fault);
    QFETCH(int, outcome);
    QFETCH(int, boxText);
    QFETCH(int, boxTitle);
    QFETCH(int, packets);
    QFETCH(int, timeouts);
    qx7emu::Options o;
    o.silent = fault == QLatin1String("silent");
    if (fault == QLatin1String("old"))
        o.version = QStringLiteral("2.11.0001");
    o.dropAck = fault == QLatin1String("dropAck") ? 5 : 0;
    o.disconnectAfterPackets = fault == QLatin1String("disconnect") ? 10 : 0;
    o.noLdimReply = fault == QLatin1String("noLdim");
    o.noise = fault == QLatin1String("noise19") ? 19 : 0;
    o.garbage = fault == QLatin1String("garbage") ? 64 : 0;
    o.fragment = fault == QLatin1String("fragment");
    App app(o);
    QVERIFY(app.connected());
    // Waits that run out take 8,000 polls of 1 ms (at least 8 s), not 16 s.
    app.w.exchange().setPollMs(1);

    app.load();

    const MessageTable &msg = app.w.state().msg;
    Boxes boxes{{msg(23), msg(15)}};
    if (boxText)
        boxes.append({msg(boxText), msg(boxTitle)});
    QCOMPARE(app.seams.boxes, boxes);
    QCOMPARE(int(app.w.files().lastOutcome()), outcome);
    QVERIFY(app.restored());
    if (timeouts >= 0)
        QCOMPARE(app.timeouts, timeouts);
    const bool loaded = outcome == int(FilesPage::LoadOutcome::Loaded);
    QCOMPARE(app.record(), loaded ? QStringLiteral("logo.bmp") : QString());
    QCOMPARE(app.w.files().txtLOADED[1]->text(), app.record());

    app.w.link().flush(5000);
    QTRY_COMPARE_WITH_TIMEOUT(app.emu.packetsReceived(), packets, 10000);
    QCOMPARE(app.emu.bank(1).complete, loaded);
    if (loaded)
        QVERIFY(app.emu.bank(1).data == expectedBank());
    if (packets == 0)
        QCOMPARE(app.emu.commands(), QStringList{QStringLiteral("#VERSION?")});
}

void TestFaultsUpload::disconnectThenReconnect()
{
    // The device closes the connection after 10 packets. The operator sees
    // "No reply from the QX-7" and the bank's record emptied; the Switching
    // tab then shows the all-off state at once (every wait ends at its first
    // poll on a lost link) until Reconnect, after which the read-back and a
    // new load work again.
    qx7emu::Options o;
    o.disconnectAfterPackets = 10;
    App app(o);
    QVERIFY(app.connected());
    qx7emu::DeviceState s;
    s.windows[0] = {true, 5, 0};
    s.backgroundBank = 2;
    app.emu.setState(s);

    app.load();
    QCOMPARE(int(app.w.files().lastOutcome()), int(FilesPage::LoadOutcome::LinkFailed));
    QCOMPARE(app.seams.boxes.value(1).first, app.w.state().msg(22));
    QCOMPARE(app.record(), QString());
    QVERIFY(app.w.link().linkLost());

    app.timeouts = 0;
    QTest::mouseClick(app.w.labSWITCH, Qt::LeftButton);
    SwitchingPage &page = app.w.switching();
    QCOMPARE(app.timeouts, 14);
    QVERIFY(!page.chkWINENABLE[0]->isChecked());
    QVERIFY(page.optWIN1INP[84]->isChecked());

    o.disconnectAfterPackets = 0;
    app.emu.setOptions(o);
    QTest::mouseClick(app.w.files().cmdRECONNECT, Qt::LeftButton);
    QVERIFY(!app.w.state().LinkFailed);
    QVERIFY(!app.w.link().linkLost());
    app.timeouts = 0;
    QTest::mouseClick(app.w.labSWITCH, Qt::LeftButton);
    QCOMPARE(app.timeouts, 0);
    QVERIFY(page.chkWINENABLE[0]->isChecked());
    QVERIFY(page.optWIN1INP[5]->isChecked());
    QVERIFY(page.optWIN1INP[81]->isChecked());

    app.w.ShowTab(9);
    app.seams.boxes.clear();
    app.load();
    QCOMPARE(int(app.w.files().lastOutcome()), int(FilesPage::LoadOutcome::Loaded));
    QCOMPARE(app.seams.boxes.size(), 1); // the start confirmation only
    QCOMPARE(app.record(), QStringLiteral("logo.bmp"));
    QTRY_VERIFY_WITH_TIMEOUT(app.emu.bank(1).complete, 10000);
    QVERIFY(app.emu.bank(1).data == expectedBank());
    QCOMPARE(app.emu.connections(), 2);
}

QTEST_MAIN(TestFaultsUpload)
#include "tst_faults_upload.moc"
